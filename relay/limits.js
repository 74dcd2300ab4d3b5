'use strict';
// The relay's bounds. Each one is derived from the largest thing an honest client can
// produce (the arithmetic is in relay/README.md), with room to spare, so that a
// misbehaving client runs into a limit long before the process runs out of memory.
// A few can be raised through the environment for load tests and big networks.

function envInt(name, fallback) {
  const raw = process.env[name];
  if (raw === undefined || raw === '') return fallback;
  const n = Number(raw);
  if (!Number.isSafeInteger(n) || n <= 0) throw new Error(name + ' must be a positive whole number, not "' + raw + '"');
  return n;
}

const KiB = 1024;
const MiB = 1024 * KiB;

module.exports = Object.freeze({
  // One WebSocket message. The biggest honest frame is a sign-in from a client that
  // knows MAX_MEMBERS certificates, 100 long announcements, 200 spoken entries and a
  // full removal list (about 7 MiB in the worst case).
  MAX_FRAME: 8 * MiB,
  // Members the directory holds; certificates beyond it are not learned.
  MAX_MEMBERS: envInt('RELAY_MAX_MEMBERS', 2000),
  // Recipients of one send: a General message to every member.
  MAX_KEYS: envInt('RELAY_MAX_MEMBERS', 2000),
  // Bytes of a certificate in its signed fields (an honest one is about 1 KiB).
  MAX_CERT: 4 * KiB,
  // Ciphertext of one send: the largest chat payload (2000 characters of text, a reply
  // quote and a 200-member group definition) is below 30 KiB once sealed.
  MAX_CT: 64 * KiB,
  MAX_REF: 64,
  // Envelopes kept for one recipient until acknowledged, by count and by bytes.
  MAX_QUEUE: envInt('RELAY_MAX_QUEUE', 10000),
  MAX_QUEUE_BYTES: 32 * MiB,
  // Memory queued for everybody together and from one sender, charged as held: a
  // ciphertext shared by a fan-out counts once, plus a record per envelope.
  MAX_TOTAL_BYTES: envInt('RELAY_MAX_TOTAL_MIB', 512) * MiB,
  MAX_SENDER_BYTES: envInt('RELAY_MAX_SENDER_MIB', 32) * MiB,
  // The longest an envelope is kept: the sender's client gives a message up after 14
  // days; a longer ttl is cut to this, and an envelope without one lives this long.
  MAX_TTL: 14 * 24 * 3600000,
  // Ids in one ack frame.
  MAX_ACK: 20000,
  // Records merged from one sign-in (a client keeps 100 posts and 200 spoken entries).
  MAX_AUTH_ANN: 200,
  MAX_AUTH_SPOKEN: 200,
  MAX_SPOKEN_PUT: 20,
  // Kept by the relay: posts (newest by time) and spoken entries (latest expiry first);
  // the spoken-code lookup reads at most 500 entries.
  MAX_ANN_KEPT: 200,
  MAX_SPOKEN_KEPT: 500,
  // Connections that have not signed in yet (sign-ins in progress and spoken-code
  // lookups): how many in all and from one address (an IPv6 /64 counts as one), how
  // long one may stay that way, and how many frames it may send. A newcomer over either
  // bound is never turned away: the oldest idle unsigned connection makes room.
  MAX_PENDING: envInt('RELAY_MAX_PENDING', 256),
  MAX_PENDING_PER_ADDRESS: envInt('RELAY_MAX_PENDING_PER_ADDRESS', 32),
  // Behind a proxy on the same host every connection comes from a loopback address; with
  // this set, such connections are counted under the address the proxy puts in X-Real-IP.
  TRUST_PROXY: process.env.RELAY_TRUST_PROXY === '1',
  SIGNIN_TIMEOUT: envInt('RELAY_SIGNIN_TIMEOUT_MS', 10000),
  MAX_PENDING_FRAMES: 8,
  // Frames above this size are scanned before they are parsed, and refused when they
  // hold more JSON values than the largest honest frame (a sign-in carrying the whole
  // directory: 30 values per certificate, 5000 removed ids, posts and entries).
  SCAN_ABOVE: 64 * KiB,
  MAX_VALUES: 40 * envInt('RELAY_MAX_MEMBERS', 2000) + 20000,
  MAX_DEPTH: 64,
  // HTTP: a request's headers (and so a WebSocket upgrade) must arrive within this time,
  // the whole request within twice it; quiet keep-alive sockets are closed after it.
  HEADERS_TIMEOUT: envInt('RELAY_HEADERS_TIMEOUT_MS', 5000),
  // Descriptors kept back from connections for the state database, logs and the like.
  SPARE_FDS: 64,
  // Per member id, kept across its connections (so signing in again refills nothing):
  // send frames (a token bucket: burst, then a steady rate per second), frames of any
  // kind, and sign-ins. Clients pace resends at 300 to 400 ms, and send their automatic
  // answers (receipts, accepts) from a budget of their own: 20 at once, then 2 a second.
  // A client reconnects after 1.5 s at the earliest, backing off to 10 s.
  SEND_BURST: envInt('RELAY_SEND_BURST', 200),
  SEND_RATE: envInt('RELAY_SEND_RATE', 10),
  FRAME_BURST: envInt('RELAY_FRAME_BURST', 400),
  FRAME_RATE: envInt('RELAY_FRAME_RATE', 100),
  SIGNIN_BURST: envInt('RELAY_SIGNIN_BURST', 20),
  SIGNIN_RATE: 0.5,
  // A connection whose unsent output grows past this cannot keep up; it is closed and
  // gets its envelopes again when it signs back in.
  MAX_BUFFERED: 32 * MiB,
  // Every connection is pinged this often; one that has not answered the previous ping
  // is dropped, so a member whose network vanished goes offline for the others instead
  // of looking online until the operating system gives up on the socket. It also keeps
  // hosting proxies from closing quiet connections.
  HEARTBEAT: envInt('RELAY_HEARTBEAT_MS', 30000),
  // How often expired envelopes and spoken entries are swept out.
  SWEEP_EVERY: 60000,
});
