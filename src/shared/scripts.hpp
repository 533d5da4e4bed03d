// SPDX-License-Identifier: MIT
// The two server-side scripts. Every call that touches a store is one run
// of one of them, so each call is one atomic step for every client of the
// store. The server does not roll a script back, so each does every check
// and read before its first write. Every key a script touches is one of its
// KEYS, all under the store's hash tag:
//
//   KEYS[1] PREFIX.."ns"   hash: namespace name -> settings (see codec.hpp)
//   KEYS[2] PREFIX.."used" hash: namespace name -> sum of its value lengths
//   KEYS[3] PREFIX.."v:"..hex(ns)  hash: key -> value
//   KEYS[4] PREFIX.."a:"..hex(ns)  hash: key -> attributes (every entry has one)
//
// The writer carries no flags, so a server over its memory limit refuses it
// before it runs (nothing is written); the reader is flagged no-writes, so
// it still runs there.
#pragma once

namespace velkshared {

inline constexpr const char* kWriteScript = R"lua(#!lua
local op = ARGV[1]
local spaces, used, values, attrs = KEYS[1], KEYS[2], KEYS[3], KEYS[4]

-- HSET in slices: a Lua call takes a bounded number of arguments.
local function hset_all(key, flat)
  local i = 1
  while i <= #flat do
    local j = math.min(i + 999, #flat)
    redis.call('HSET', key, unpack(flat, i, j))
    i = j + 1
  end
end

if op == 'put' then
  -- ARGV: op, ns, default settings, then key, value, attributes per item
  local ns = ARGV[2]
  local exists = redis.call('HEXISTS', spaces, ns) == 1
  local lengths = {}
  local delta = 0
  local vals, ats = {}, {}
  for i = 4, #ARGV, 3 do
    local key, value = ARGV[i], ARGV[i + 1]
    local old = lengths[key]
    if old == nil then
      old = redis.call('HSTRLEN', values, key)
    end
    lengths[key] = #value
    delta = delta + #value - old
    vals[#vals + 1] = key
    vals[#vals + 1] = value
    ats[#ats + 1] = key
    ats[#ats + 1] = ARGV[i + 2]
  end
  -- Every read is done: from here on only writes.
  if not exists then
    redis.call('HSET', spaces, ns, ARGV[3])
  end
  hset_all(values, vals)
  hset_all(attrs, ats)
  if delta ~= 0 then
    redis.call('HINCRBY', used, ns, delta)
  end
  return 0
elseif op == 'del' then
  -- ARGV: op, ns, keys; answers -1 without the namespace, else 1 or 0 per key
  local ns = ARGV[2]
  if redis.call('HEXISTS', spaces, ns) == 0 then
    return -1
  end
  local removed, gone, order = {}, {}, {}
  local delta = 0
  for i = 3, #ARGV do
    local key = ARGV[i]
    if not gone[key] and redis.call('HEXISTS', attrs, key) == 1 then
      delta = delta + redis.call('HSTRLEN', values, key)
      gone[key] = true
      order[#order + 1] = key
      removed[#removed + 1] = 1
    else
      removed[#removed + 1] = 0
    end
  end
  for _, key in ipairs(order) do
    redis.call('HDEL', values, key)
    redis.call('HDEL', attrs, key)
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
end
return redis.error_reply('velkshared: unknown operation')
)lua";

inline constexpr const char* kReadScript = R"lua(#!lua flags=no-writes
local op = ARGV[1]
local spaces, used, values, attrs = KEYS[1], KEYS[2], KEYS[3], KEYS[4]

-- HMGET in slices, gathered into one list (false where a field is missing).
local function hmget_all(key, first)
  local out = {}
  local i = first
  while i <= #ARGV do
    local j = math.min(i + 999, #ARGV)
    local part = redis.call('HMGET', key, unpack(ARGV, i, j))
    for k = 1, #part do
      out[#out + 1] = part[k]
    end
    i = j + 1
  end
  return out
end

if op == 'get' then
  -- ARGV: op, '1' to bring attributes or '0', keys
  local ats = {}
  if ARGV[2] == '1' then
    ats = hmget_all(attrs, 3)
  end
  return {hmget_all(values, 3), ats}
elseif op == 'query' then
  -- ARGV: op, keys; per key its attributes (false if missing) and length
  local ats = hmget_all(attrs, 2)
  local lengths = {}
  for i = 1, #ats do
    lengths[i] = ats[i] and redis.call('HSTRLEN', values, ARGV[i + 1]) or -1
  end
  return {ats, lengths}
elseif op == 'describe' then
  -- ARGV: op, ns
  local settings = redis.call('HGET', spaces, ARGV[2])
  if not settings then
    return -6
  end
  return {settings, tonumber(redis.call('HGET', used, ARGV[2]) or '0')}
elseif op == 'list' then
  -- ARGV: op, limit; answers the total, then name, settings, used per namespace
  local all = redis.call('HGETALL', spaces)
  local limit = tonumber(ARGV[2])
  local out = {#all / 2}
  for i = 1, #all, 2 do
    if (i - 1) / 2 >= limit then
      break
    end
    out[#out + 1] = all[i]
    out[#out + 1] = all[i + 1]
    out[#out + 1] = tonumber(redis.call('HGET', used, all[i]) or '0')
  end
  return out
end
return redis.error_reply('velkshared: unknown operation')
)lua";

}  // namespace velkshared
