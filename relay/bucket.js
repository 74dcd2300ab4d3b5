'use strict';
// A token bucket: `burst` at once, then `rate` per second.
function bucket(burst, rate) {
  return { tokens: burst, burst, rate, last: Date.now() };
}

function refill(b, now) {
  b.tokens = Math.min(b.burst, b.tokens + ((now - b.last) / 1000) * b.rate);
  b.last = now;
}

function take(b) {
  refill(b, Date.now());
  if (b.tokens < 1) return false;
  b.tokens -= 1;
  return true;
}

// True when the bucket has refilled completely, so forgetting it changes nothing.
function full(b, now) {
  refill(b, now);
  return b.tokens >= b.burst;
}

module.exports = { bucket, take, full };
