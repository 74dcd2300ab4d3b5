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
  // Ciphertext of one send: the largest chat payload (2000 characters of text, a reply
  // quote and a 200-member group definition) is below 30 KiB once sealed.
  MAX_CT: 64 * KiB,
  MAX_REF: 64,
  // Envelopes kept for one recipient until acknowledged, by count and by bytes.
  MAX_QUEUE: envInt('RELAY_MAX_QUEUE', 10000),
  MAX_QUEUE_BYTES: 32 * MiB,
  // Bytes of ciphertext kept for everybody together.
  MAX_TOTAL_BYTES: envInt('RELAY_MAX_TOTAL_MIB', 512) * MiB,
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
  // lookups) and how long one may stay that way.
  MAX_PENDING: envInt('RELAY_MAX_PENDING', 64),
  SIGNIN_TIMEOUT: 60000,
  // Per connection: send frames (a token bucket: burst, then a steady rate per second)
  // and frames of any kind. Clients pace resends at 300 to 400 ms, but one receipt batch
  // sends a receipt to every sender it heard from at once: up to one per member online.
  SEND_BURST: envInt('RELAY_SEND_BURST', 200),
  SEND_RATE: envInt('RELAY_SEND_RATE', 10),
  FRAME_BURST: envInt('RELAY_FRAME_BURST', 400),
  FRAME_RATE: envInt('RELAY_FRAME_RATE', 100),
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
