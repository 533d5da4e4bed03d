// SPDX-License-Identifier: MIT
// The server-side scripts, and the layout of a store on the server. Every
// call that touches a store is one atomic step for every client of it:
//
//   put                 MULTI, the put script (old lengths read, used bytes
//                       and the namespace written), HSET of the attributes,
//                       HSET of the values, EXEC
//   get, get-into       HMGET of the values (and of the attributes, in one
//                       MULTI/EXEC, when a filter needs the metadata)
//   query               HMGET of the attributes
//   delete, namespaces  one run of a script
//
// The server does not roll back, so each script does every check and read
// before its first write, and a transaction holds only commands that cannot
// fail once queued (a server over its memory limit refuses them while they
// are queued, and then runs none). Every key a call touches is one of its
// keys, all under the store's hash tag:
//
//   PREFIX.."ns"          hash: namespace name -> settings (codec.hpp)
//   PREFIX.."used"        hash: namespace name -> sum of its value lengths
//   PREFIX.."v:"..hex(ns) hash: key -> value
//   PREFIX.."a:"..hex(ns) hash: key -> attributes (every entry has one; they
//                         begin with the value's length, codec.hpp)
//
// The writer carries no flags, so a server over its memory limit refuses it
// before it runs (nothing is written); the reader is flagged no-writes, so
// it still runs there.
#pragma once

#include <string>
#include <string_view>

namespace velkshared {

// What both scripts share: their keys and helpers.
inline constexpr const char* kScriptPrelude = R"lua(
local op = ARGV[1]
local spaces, used, values, attrs = KEYS[1], KEYS[2], KEYS[3], KEYS[4]

-- HSET of the field and value pairs of `list` from `first` on, in slices:
-- a Lua call takes a bounded number of arguments.
local function hset_from(key, list, first)
  local i = first
  while i <= #list do
    local j = math.min(i + 999, #list)
    redis.call('HSET', key, unpack(list, i, j))
    i = j + 1
  end
end

-- An entry's value length, from its attributes ("LENGTH:..."), 0 for none.
local function length_of(attributes)
  if not attributes then
    return 0
  end
  return tonumber(string.sub(attributes, 1, string.find(attributes, ':', 1, true) - 1))
end

-- ARGV from `first` on, as a list.
local function from_argv(first)
  local out = {}
  for i = first, #ARGV do
    out[#out + 1] = ARGV[i]
  end
  return out
end

-- HMGET in slices, gathered into one list (false where a field is missing).
local function hmget_all(key, fields)
  if #fields == 0 then
    return {}
  end
  if #fields <= 1000 then
    return redis.call('HMGET', key, unpack(fields))
  end
  local out = {}
  local i = 1
  while i <= #fields do
    local j = math.min(i + 999, #fields)
    local part = redis.call('HMGET', key, unpack(fields, i, j))
    for k = 1, #part do
      out[#out + 1] = part[k]
    end
    i = j + 1
  end
  return out
end

)lua";

// The bookkeeping of a put, run inside its transaction (see above): small,
// because it travels whole with every put (EVAL, not EVALSHA: inside a
// transaction a missing script would show only after the values were set).
inline constexpr const char* kPutBody = R"lua(
if op == 'put' then
  -- ARGV: op, ns, default settings, the sum of the new value lengths, then
  -- the batch's keys, each once. Only what needs a read goes through here:
  -- the old lengths (for the used bytes) and the namespace's existence.
  -- The same transaction then sets the attributes and the values with
  -- plain HSETs, since every argument through a script costs a conversion
  -- (a 1 KiB value about two nanoseconds a byte).
  local ns = ARGV[2]
  local exists = redis.call('HEXISTS', spaces, ns) == 1
  local old = hmget_all(attrs, from_argv(5))
  local delta = tonumber(ARGV[4])
  for n = 1, #old do
    delta = delta - length_of(old[n])
  end
  -- Every read is done: from here on only writes.
  if not exists then
    redis.call('HSET', spaces, ns, ARGV[3])
  end
  if delta ~= 0 then
    redis.call('HINCRBY', used, ns, delta)
  end
  return 0
)lua";

// Delete and the namespace calls that change something.
inline constexpr const char* kWriteBody = R"lua(
if op == 'del' then
  -- ARGV: op, ns, keys; answers -1 without the namespace, else 1 or 0 per key
  local ns = ARGV[2]
  if redis.call('HEXISTS', spaces, ns) == 0 then
    return -1
  end
  local keys = {}
  for i = 3, #ARGV do
    keys[#keys + 1] = ARGV[i]
  end
  local old = hmget_all(attrs, keys)
  local removed, gone, order = {}, {}, {}
  local delta = 0
  for n, key in ipairs(keys) do
    if old[n] and not gone[key] then
      delta = delta + length_of(old[n])
      gone[key] = true
      order[#order + 1] = key
      removed[n] = 1
    else
      removed[n] = 0
    end
  end
  -- Every read is done: from here on only writes.
  local i = 1
  while i <= #order do
    local j = math.min(i + 999, #order)
    redis.call('HDEL', values, unpack(order, i, j))
    redis.call('HDEL', attrs, unpack(order, i, j))
    i = j + 1
  end
  if delta ~= 0 then
    redis.call('HINCRBY', used, ns, -delta)
  end
  return removed
elseif op == 'create' then
  -- ARGV: op, ns, settings
  if redis.call('HEXISTS', spaces, ARGV[2]) == 1 then
    return -8
  end
  redis.call('HSET', spaces, ARGV[2], ARGV[3])
  return 0
elseif op == 'update' then
  -- ARGV: op, ns [, capacity and parameter (16 bytes), '1' and a policy or '0']
  local current = redis.call('HGET', spaces, ARGV[2])
  if not current then
    return -6
  end
  if #ARGV == 2 then
    return 0
  end
  local policy = string.sub(current, 17)
  if ARGV[4] == '1' then
    policy = ARGV[5]
  end
  redis.call('HSET', spaces, ARGV[2], ARGV[3] .. policy)
  return 0
elseif op == 'drop' then
  -- ARGV: op, ns
  if redis.call('HEXISTS', spaces, ARGV[2]) == 0 then
    return -6
  end
  redis.call('HDEL', spaces, ARGV[2])
  redis.call('HDEL', used, ARGV[2])
  redis.call('UNLINK', values, attrs)
  return 0
elseif op == 'clear' then
  -- KEYS: spaces, used, then the entry hashes of every namespace that the
  -- caller saw; ARGV: op, those names. Refused (-1) if the set changed.
  local names = redis.call('HKEYS', spaces)
  if #names ~= #ARGV - 1 then
    return -1
  end
  local wanted = {}
  for i = 2, #ARGV do
    wanted[ARGV[i]] = true
  end
  for _, name in ipairs(names) do
    if not wanted[name] then
      return -1
    end
  end
  for i = 1, #KEYS do
    redis.call('UNLINK', KEYS[i])
  end
  return 0
)lua";

// Describing and listing namespaces. (A get or a query is one plain command,
// or two in one transaction, which are each one step of their own.)
inline constexpr const char* kReadBody = R"lua(
if op == 'describe' then
  -- ARGV: op, ns
  local settings = redis.call('HGET', spaces, ARGV[2])
  if not settings then
    return -6
  end
  return {settings, tonumber(redis.call('HGET', used, ARGV[2]) or '0')}
elseif op == 'list' then
  -- ARGV: op, limit; answers the total, then name, settings, used per
  -- namespace, sorted by name: the server's own order changes whenever its
  -- table is rehashed, and a listing with a small capacity must keep
  -- showing the same namespaces while none is made or deleted.
  local names = redis.call('HKEYS', spaces)
  table.sort(names)
  local shown = {}
  for i = 1, math.min(tonumber(ARGV[2]), #names) do
    shown[i] = names[i]
  end
  local settings = hmget_all(spaces, shown)
  local bytes = hmget_all(used, shown)
  local out = {#names}
  for i = 1, #shown do
    out[#out + 1] = shown[i]
    out[#out + 1] = settings[i]
    out[#out + 1] = tonumber(bytes[i] or '0')
  end
  return out
)lua";

// The whole scripts: a first line that declares how the server may run
// them, then the prelude, then the body and its closing (an operation it
// does not know is an error); the comment lines stay here (the put script
// travels whole with every put). Made once.
std::string assemble_script(const char* first_line, const char* body);

// The SHA-1 of some bytes in hexadecimal: the name the server gives a
// script it has loaded, so a call can run it by name (EVALSHA) without
// asking first.
std::string sha1_hex(std::string_view bytes);

// A script and its name on the server.
struct ScriptText {
    std::string body;
    std::string sha1;
};
// The scripts, made once when the library is loaded.
const std::string& put_script();
const ScriptText& write_script();
const ScriptText& read_script();

}  // namespace velkshared
