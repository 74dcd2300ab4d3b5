#!/usr/bin/python3
"""An independent implementation of mosswire's protocol primitives, on Python's
`cryptography` package (OpenSSL underneath), for the interoperability tests.

It reads one JSON request per line on stdin ({"op": ..., ...}) and writes one JSON answer
per line on stdout ({"ok": value} or {"err": text}). Nothing here is shared with
web/protocol.js: the canonical form, the key derivations and the byte layouts are written
again from their description, so an agreement between the two means both follow it.
"""
import base64
import hashlib
import json
import os
import re
import sys

from cryptography.exceptions import InvalidSignature, InvalidTag
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC
from cryptography.hazmat.primitives.keywrap import aes_key_unwrap, aes_key_wrap

CURVE = ec.SECP256R1()
N = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
PKCS8_PREFIX = bytes.fromhex("3041020100301306072a8648ce3d020106082a8648ce3d030107042730250201010420")
USERNAME = re.compile(r"^[A-Za-z0-9_.]{2,24}$")


def b64(data):
    return base64.b64encode(data).decode()


def unb64(text):
    return base64.b64decode(text, validate=True)


def canon(value):
    # Sorted keys, no white space, non-ASCII as itself. Python and ECMAScript agree on the
    # leaves used here (integers, plain strings, null, booleans).
    return json.dumps(value, sort_keys=True, separators=(",", ":"), ensure_ascii=False)


def raw_pub(key):
    return key.public_key().public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)


def load_pub(text):
    return ec.EllipticCurvePublicKey.from_encoded_point(CURVE, unb64(text))


def load_priv(text):
    return serialization.load_der_private_key(unb64(text), password=None)


def pkcs8(key):
    return key.private_bytes(serialization.Encoding.DER, serialization.PrivateFormat.PKCS8, serialization.NoEncryption())


def sign(priv_text, data):
    der = load_priv(priv_text).sign(canon(data).encode(), ec.ECDSA(hashes.SHA256()))
    r, s = decode_dss_signature(der)
    return b64(r.to_bytes(32, "big") + s.to_bytes(32, "big"))


def verify(pub_text, data, sig_text):
    try:
        raw = unb64(sig_text)
        if len(raw) != 64:
            return False
        der = encode_dss_signature(int.from_bytes(raw[:32], "big"), int.from_bytes(raw[32:], "big"))
        load_pub(pub_text).verify(der, canon(data).encode(), ec.ECDSA(hashes.SHA256()))
        return True
    except (InvalidSignature, ValueError, TypeError):
        return False


def member_id(sig_pub):
    return hashlib.sha256(unb64(sig_pub)).hexdigest()[:32]


def safety(sig, ecdh):
    d = hashlib.sha256(("msw-safety|" + sig + "|" + ecdh).encode()).digest()
    return " ".join("%05d" % (int.from_bytes(d[3 * i:3 * i + 3], "big") % 100000) for i in range(6))


def wrap_key(my_priv_text, peer_pub_text):
    shared = load_priv(my_priv_text).exchange(ec.ECDH(), load_pub(peer_pub_text))
    return HKDF(algorithm=hashes.SHA256(), length=32, salt=bytes(32), info=b"msw-wrap-v1").derive(shared)


def seal(req):
    key, iv = os.urandom(32), os.urandom(12)
    text = json.dumps(req["payload"], separators=(",", ":"), ensure_ascii=False)
    ct = AESGCM(key).encrypt(iv, text.encode(), ("msw-v1|" + req["myId"]).encode())
    keys = {r["id"]: b64(aes_key_wrap(wrap_key(req["myEcdhPriv"], r["ecdh"]), key)) for r in req["recipients"]}
    return {"iv": b64(iv), "ct": b64(ct), "keys": keys}


def open_env(req):
    env = req["env"]
    key = aes_key_unwrap(wrap_key(req["myEcdhPriv"], req["fromEcdh"]), unb64(env["key"]))
    plain = AESGCM(key).decrypt(unb64(env["iv"]), unb64(env["ct"]), ("msw-v1|" + env["from"]).encode())
    return {"payload": json.loads(plain.decode())}


def invite_key(seed):
    h = hashlib.sha256(b"msw-invite-key|" + seed).digest()
    d = int.from_bytes(h, "big") % (N - 1) + 1
    priv = ec.derive_private_key(d, CURVE)
    return {"ik": b64(raw_pub(priv)), "k": b64(PKCS8_PREFIX + d.to_bytes(32, "big")), "d": "%064x" % d}


def read_short(req):
    code = re.sub(r"\s+", "", req["code"])
    assert code.startswith("MSW2."), "prefix"
    body = code[5:]
    assert re.fullmatch(r"[A-Za-z0-9_-]{112}", body), "body"
    raw = base64.urlsafe_b64decode(body + "=" * (-len(body) % 4))
    key = invite_key(raw[:16])
    exp = int.from_bytes(raw[16:20], "big") * 60000
    sig = b64(raw[20:84])
    return {"ik": key["ik"], "k": key["k"], "exp": exp, "sig": sig,
            "signed": verify(req["owner"], ["msw-invite", key["ik"], exp], sig)}


def make_short(req):
    import time
    seed = os.urandom(16)
    minutes = (int(time.time() * 1000) + int(req["hours"] * 3600000)) // 60000
    key = invite_key(seed)
    sig = unb64(sign(req["ownerPriv"], ["msw-invite", key["ik"], minutes * 60000]))
    return {"code": "MSW2." + base64.urlsafe_b64encode(seed + minutes.to_bytes(4, "big") + sig).decode().rstrip("=")}


def spoken_key(digits, owner):
    kdf = PBKDF2HMAC(algorithm=hashes.SHA256(), length=32, salt=("msw-spoken|" + owner).encode(), iterations=2000000)
    return AESGCM(kdf.derive(digits.encode()))


def spoken_aad(entry_id, exp):
    return ("msw-spoken|%s|%d" % (entry_id, exp)).encode()


def make_spoken(req):
    digits = req["digits"]
    entry_id, exp, iv = os.urandom(8).hex(), req["exp"], os.urandom(12)
    ct = b64(spoken_key(digits, req["owner"]).encrypt(iv, req["invite"].encode(), spoken_aad(entry_id, exp)))
    entry = {"id": entry_id, "exp": exp, "iv": b64(iv), "ct": ct}
    entry["s"] = sign(req["ownerPriv"], ["msw-spoken", entry_id, exp, entry["iv"], ct])
    return {"code": digits, "entry": entry}


def open_spoken(req):
    digits = re.sub(r"[\s.\-]", "", req["code"])
    box = spoken_key(digits, req["owner"])
    for e in req["entries"]:
        signed = verify(req["owner"], ["msw-spoken", e["id"], e["exp"], e["iv"], e["ct"]], e["s"])
        try:
            plain = box.decrypt(unb64(e["iv"]), unb64(e["ct"]), spoken_aad(e["id"], e["exp"]))
            return {"invite": plain.decode(), "signed": signed}
        except InvalidTag:
            continue
    return {"invite": None}


def verify_cert(cert, owner, depth=0):
    """The certificate chain check, written again; returns the info dict or None."""
    if not isinstance(cert, dict) or depth > 32:
        return None
    m = cert.get("m")
    if not isinstance(m, dict) or not isinstance(m.get("name"), str) or not USERNAME.match(m["name"]):
        return None
    for f in ("sig", "ecdh"):
        if not isinstance(m.get(f), str) or len(m[f]) != 88:
            return None
    if isinstance(m.get("at"), bool) or not isinstance(m.get("at"), (int, float)):
        return None
    copy = {"name": m["name"], "sig": m["sig"], "ecdh": m["ecdh"], "at": m["at"]}
    mid = member_id(m["sig"])
    info = {"id": mid, "name": m["name"], "at": m["at"], "sig": m["sig"], "ecdh": m["ecdh"]}
    g = cert.get("by")
    if g is None:
        if m["sig"] != owner or not verify(owner, ["msw-owner", copy], cert.get("s", "")):
            return None
        return dict(info, ik=None, by=None, chain=[])
    if not isinstance(g, dict) or not isinstance(g.get("exp"), (int, float)) or m["at"] > g["exp"]:
        return None
    if not verify(g.get("ik", ""), ["msw-join", copy], cert.get("s", "")):
        return None
    up = verify_cert(g.get("from"), owner, depth + 1)
    if up is None or up["by"] is not None:
        return None
    if not verify(up["sig"], ["msw-invite", g["ik"], g["exp"]], g.get("s", "")):
        return None
    if up["id"] == mid or mid in up["chain"]:
        return None
    return dict(info, ik=g["ik"], by=up["id"], chain=up["chain"] + [up["id"]])


def keygen(_req):
    s, e = ec.generate_private_key(CURVE), ec.generate_private_key(CURVE)
    return {"sigPub": b64(raw_pub(s)), "sigPriv": b64(pkcs8(s)), "ecdhPub": b64(raw_pub(e)), "ecdhPriv": b64(pkcs8(e))}


def pub_of(req):
    return {"pub": b64(raw_pub(load_priv(req["priv"])))}


OPS = {
    "keygen": keygen,
    "pub_of": pub_of,
    "canon": lambda r: {"text": canon(r["data"])},
    "sign": lambda r: {"sig": sign(r["priv"], r["data"])},
    "verify": lambda r: {"valid": verify(r["pub"], r["data"], r["sig"])},
    "id": lambda r: {"id": member_id(r["sigPub"])},
    "safety": lambda r: {"number": safety(r["sig"], r["ecdh"])},
    "seal": seal,
    "open": open_env,
    "invite_key": lambda r: invite_key(unb64(r["seed"])),
    "read_short": read_short,
    "make_short": make_short,
    "make_spoken": make_spoken,
    "open_spoken": open_spoken,
    "verify_cert": lambda r: {"info": verify_cert(r["cert"], r["owner"])},
}


def main():
    for line in sys.stdin:
        if not line.strip():
            continue
        try:
            req = json.loads(line)
            answer = {"ok": OPS[req["op"]](req)}
        except Exception as exc:  # every failure goes back to the test as text
            answer = {"err": "%s: %s" % (type(exc).__name__, exc)}
        sys.stdout.write(json.dumps(answer) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
