// SPDX-License-Identifier: MIT
// A pinned copy of what a process of libvelkshared 0.1.0 (the store layer
// as of commit 8086ee5, before put and delete were rewritten) sends to the
// server when it puts and deletes, for the test that runs such a process
// beside the current library on one store. Pinned rather than built from
// the repository's history: a clone made for CI may not carry that history.
// Only the server side is kept, and only what its put and delete run (the
// reads and namespace calls of 0.1.0 send what the current library sends):
//
//   put     MULTI, EVAL kPut 4 NS USED VALUES ATTRS "put" NAME DEFAULTS
//           TOTAL KEY..., HSET ATTRS KEY "LENGTH:"..., HSET VALUES KEY
//           VALUE..., EXEC (0.1.0 looked at no answer inside EXEC)
//   delete  EVALSHA of its write script, run here as EVAL kDelete with the
//           same keys and "del" NAME KEY...; -1 without the namespace, else
//           1 or 0 per key
//   query   HMGET ATTRS KEY...; each answer must hold a ":" (its decoder
//           refused attributes without one)
//
// Its length_of() is the part that newer attributes must not break: it
// reads the digits before the first ":", and fails without one.
#pragma once

namespace velk_test::store_0_1_0 {

inline constexpr const char* kPrelude = R"lua(
local op = ARGV[1]
local spaces, used, values, attrs = KEYS[1], KEYS[2], KEYS[3], KEYS[4]
local function length_of(attributes)
  if not attributes then
    return 0
  end
  return tonumber(string.sub(attributes, 1, string.find(attributes, ':', 1, true) - 1))
end
local function from_argv(first)
  local out = {}
  for i = first, #ARGV do
    out[#out + 1] = ARGV[i]
  end
  return out
end
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

inline constexpr const char* kPut = R"lua(
if op == 'put' then
  local ns = ARGV[2]
  local exists = redis.call('HEXISTS', spaces, ns) == 1
  local old = hmget_all(attrs, from_argv(5))
  local delta = tonumber(ARGV[4])
  for n = 1, #old do
    delta = delta - length_of(old[n])
  end
  if not exists then
    redis.call('HSET', spaces, ns, ARGV[3])
  end
  if delta ~= 0 then
    redis.call('HINCRBY', used, ns, delta)
  end
  return 0
end
)lua";

inline constexpr const char* kDelete = R"lua(
if op == 'del' then
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
end
)lua";

}  // namespace velk_test::store_0_1_0
