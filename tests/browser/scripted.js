'use strict';
// A member driven by a script instead of a page: a real certificate from the owner's
// invite, signed in to the real relay, sealing whatever payloads it is told to with
// web/protocol.js, as a hostile member would. It acknowledges what it gets and keeps it.
const P = require('../../web/protocol.js');
const { FrameSocket } = require('../../tools/frames.js');

// `owner` holds the network owner's `cert` and `keys`; `url` is the relay's.
async function scripted(url, owner, name) {
  const keys = await P.generateKeys();
  const cert = await P.acceptInvite(await P.makeInvite(owner.cert, owner.keys, 24), keys, name);
  const id = await P.idOf(keys.sigPub);
  const s = await FrameSocket.open(url);
  const hello = await s.next('hello', 15000);
  s.send({ t: 'auth', v: '1.1.8', cert, sig: await P.sign(keys.sigPriv, ['msw-auth', hello.nonce]), dir: [cert], removals: null, ann: [], spoken: [] });
  await s.next('welcome', 15000);
  const box = P.createBox(id, keys.ecdhPriv);
  const m = { id, name, keys, cert, s, box, got: [], refused: 0 };
  s.onFrame = (f) => {
    if (f.t === 'env') {
      m.got.push(f);
      s.send({ t: 'ack', eids: [f.eid] });
    } else if (f.t === 'error') {
      m.refused++;
    }
    return false;
  };
  // The send frame of `payload` sealed for `to` (each { id, ecdh }), made without sending.
  m.seal = async (payload, to) => {
    const sealed = await box.seal(payload, to);
    return { t: 'send', iv: sealed.iv, ct: sealed.ct, keys: sealed.keys };
  };
  m.send = async (payload, to) => s.send(await m.seal(payload, to));
  // What page member `from` ({ id, ecdh }) sent this member, opened.
  m.from = (from) => Promise.all(m.got.filter((f) => f.from === from.id).map((f) => box.open(f, from.ecdh)));
  m.close = () => s.close();
  return m;
}

// A page member as a scripted one addresses it: its id and key-agreement key, from its
// certificate.
async function addressOf(page, ownerKey) {
  const info = await P.verifyCert(await page.evaluate(() => Vault.data.cert), ownerKey);
  return { id: info.id, ecdh: info.ecdh };
}

module.exports = { scripted, addressOf };
