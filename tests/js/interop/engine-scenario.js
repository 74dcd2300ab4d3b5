// Runs inside a browser engine beside the unchanged protocol.js. It fetches material that
// Node made (input.json), checks and opens it with MswProto, makes its own material for
// Node to check, and posts everything back as result.json. Any exception is posted too.
(async function () {
  'use strict';
  var P = window.MswProto;
  var out = { engine: navigator.userAgent, secure: window.isSecureContext };
  try {
    var input = await (await fetch('input.json')).json();
    var owner = input.owner;

    // What Node made, checked here.
    out.ownerInfo = await P.verifyCert(owner.cert, owner.pub);
    out.memberInfo = await P.verifyCert(input.member.cert, owner.pub);
    out.forgedCert = await P.verifyCert(input.forgedCert, owner.pub);
    out.safety = await P.safetyNumber(input.member.cert.m);
    out.idOf = await P.idOf(input.member.cert.m.sig);
    out.canon = P.canon(input.canonSample);
    out.cleanNames = input.names.map(function (n) { return P.cleanName(n); });
    out.keysOrder = Object.keys(P);

    var box = P.createBox(input.recipient.id, input.recipient.ecdhPriv);
    out.opened = await box.open(input.sealed.env, input.sealed.fromEcdh);
    out.openedTampered = await box.open(Object.assign({}, input.sealed.env, { from: input.recipient.id }), input.sealed.fromEcdh);
    out.ann = await P.checkAnn(input.ann, owner.pub);
    out.removals = await P.checkRemovals(input.removals, owner.pub);

    var inv = await P.readShortInvite(input.shortCode, owner.cert);
    out.shortInvite = inv && { ik: inv.g.ik, k: inv.k, exp: inv.g.exp };
    var joinerKeys = await P.generateKeys();
    out.joinerCert = await P.acceptInvite(inv, joinerKeys, 'engine_joiner');
    out.joinerInfo = await P.verifyCert(out.joinerCert, owner.pub);

    // Material made here, for Node to check.
    var mine = await P.generateKeys();
    out.mine = { sigPub: mine.sigPub, ecdhPub: mine.ecdhPub, id: await P.idOf(mine.sigPub) };
    out.myOwnerCert = await P.ownerCert(mine, 'EngineOwner');
    out.myInvite = await P.makeInvite(out.myOwnerCert, mine, 2);
    out.mySignature = await P.sign(mine.sigPriv, input.canonSample);
    var myBox = P.createBox(out.mine.id, mine.ecdhPriv);
    out.mySealed = await myBox.seal(input.replyPayload, [{ id: input.recipient.id, ecdh: input.recipient.ecdhPub }]);
    out.myEcdhPub = mine.ecdhPub;
    out.myShortCode = await P.makeShortInvite(owner.priv, 24);
    out.myAnn = await P.signAnn(owner.priv, '00ff00ff00ff00ff', 1793233993890, 'from the engine');

    // One spoken lookup each way: 2,000,000 PBKDF2 rounds in this engine.
    out.spokenOpened = await P.openSpoken(input.spoken.code, owner.pub, [input.spoken.entry]);
    out.mySpoken = await P.makeSpoken(owner.priv, owner.pub, out.myShortCode, 1);
  } catch (e) {
    out.error = String(e && e.stack || e);
  }
  await fetch('result.json', { method: 'POST', body: JSON.stringify(out) });
})();
