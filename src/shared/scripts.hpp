// SPDX-License-Identifier: MIT
// The server-side scripts, and the layout of a store on the server. Every
// call that touches a store is one atomic step for every client of it:
//
//   put                 MULTI, the put script (old lengths read, used bytes
//                       and the namespace written), HSET of the values,
//                       HSET of the attributes, EXEC
//   get, get-into       HMGET of the values (and of the attributes, in one
//                       MULTI/EXEC, when a filter needs the metadata)
//   query               HMGET of the attributes
//   delete              MULTI, the delete script (old lengths read, used
//                       bytes written), HDEL of the values, HDEL of the
//                       attributes, EXEC
//   namespace calls     one run of a script
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
//   PREFIX.."a:"..hex(ns) hash: key -> attributes (every entry has them;
//                         they begin with the value's length, codec.hpp)
//
// Each entry hash also holds kTableField (below). Values never pass
// through a script (the server converts every byte that does), and a
// script takes the keys once: each argument and each call of a script costs
// the server more than a plain command does.
//
// The put and delete scripts travel whole with each call (EVAL): inside a
// transaction a script missing from the server's cache would fail only
// after the values were set. They are small, so sending and hashing them
// costs little. The others run by name (EVALSHA) on their own, loaded again
// after NOSCRIPT.
// The writers carry no flags, so a server over its memory limit refuses
// them before they run (nothing is written); the reader is flagged
// no-writes, so it still runs there.
#pragma once

#include <string>
#include <string_view>

namespace velkshared {

// A field that no key can name (keys are C texts: no NUL byte), in each
// entry hash, with a value longer than the server keeps in a compact
// listpack (64 bytes): the server then keeps the hash as a hash table from
// its first write on. A listpack costs a scan for each field, and a batch
// touches 64 of them. (Hashes written by 0.1.0 have none, until a put.)
inline constexpr std::string_view kTableField{"\0", 1};
inline constexpr std::string_view kTableValue =
    "velkshared: this field keeps the hash a hash table, which a batch reads faster";

// The bookkeeping of a put, run first in its transaction. KEYS: the
// namespaces, the used bytes, the entry attributes; ARGV: the namespace,
// its default settings, the sum of the new lengths, then the batch's keys,
// each once. Only what needs a read goes through here (the old lengths);
// the same transaction sets the values and attributes with plain HSETs.
inline constexpr const char* kPutScript = R"lua(#!lua
redis.call('HSETNX', KEYS[1], ARGV[1], ARGV[2])
local d = tonumber(ARGV[3])
for i = 4, #ARGV, 1000 do
  local old = redis.call('HMGET', KEYS[3], unpack(ARGV, i, math.min(i + 999, #ARGV)))
  for j = 1, #old do
    local a = old[j]
    if a then
      d = d - (tonumber(a) or tonumber(string.match(a, '^%d+')))
    end
  end
end
if d ~= 0 then
  redis.call('HINCRBY', KEYS[2], ARGV[1], d)
end
return 0
)lua";

// The bookkeeping of a delete, run first in its transaction. KEYS: the
// namespaces, the used bytes, the entry attributes; ARGV: the namespace,
// then the keys, each once. Answers -1 without the namespace, else a text
// of "1" (it was there) or "0" per key. The same transaction then removes
// the keys from the values and the attributes with plain HDELs.
inline constexpr const char* kDeleteScript = R"lua(#!lua
if redis.call('HEXISTS', KEYS[1], ARGV[1]) == 0 then
  return -1
end
local removed, d = {}, 0
for i = 2, #ARGV, 1000 do
  local old = redis.call('HMGET', KEYS[3], unpack(ARGV, i, math.min(i + 999, #ARGV)))
  for j = 1, #old do
    local a = old[j]
    if a then
      d = d + (tonumber(a) or tonumber(string.match(a, '^%d+')))
      removed[#removed + 1] = '1'
    else
      removed[#removed + 1] = '0'
    end
  end
end
if d ~= 0 then
  redis.call('HINCRBY', KEYS[2], ARGV[1], -d)
end
return table.concat(removed)
)lua";

// What the write and read scripts share: their keys and helpers.
inline constexpr const char* kScriptPrelude = R"lua(
local op = ARGV[1]
local spaces, used, values, attrs = KEYS[1], KEYS[2], KEYS[3], KEYS[4]

-- An entry's value length, from its attributes ("LENGTH" or
-- "LENGTH:..."), 0 for none.
local function length_of(attributes)
  if not attributes then
    return 0
  end
  return tonumber(attributes) or tonumber(string.match(attributes, '^%d+'))
end

-- A command on `key` with the names of `list`, in slices: a Lua call takes
-- a bounded number of arguments. HMGET's answers are gathered in order.
local function each_slice(command, key, list)
  local out = {}
  local i = 1
  while i <= #list do
    local j = math.min(i + 999, #list)
    local part = redis.call(command, key, unpack(list, i, j))
    if type(part) == 'table' then
      for k = 1, #part do
        out[#out + 1] = part[k]
      end
    end
    i = j + 1
  end
  return out
end

)lua";

// The namespace calls that change something.
inline constexpr const char* kWriteBody = R"lua(
if op == 'create' then
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
  local settings = each_slice('HMGET', spaces, shown)
  local bytes = each_slice('HMGET', used, shown)
  local out = {#names}
  for i = 1, #shown do
    out[#out + 1] = shown[i]
    out[#out + 1] = settings[i]
    out[#out + 1] = tonumber(bytes[i] or '0')
  end
  return out
)lua";

// The write and read scripts whole: a first line that declares how the
// server may run them, then the prelude, then the body and its closing (an
// operation it does not know is an error); comment lines left out.
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
const ScriptText& write_script();
const ScriptText& read_script();

}  // namespace velkshared
