#pragma once
// The owner's signature on a release: SHA256SUMS.txt.sig holds one line, the Base64 of the
// 64-byte ECDSA P-256 signature (r then s) over the exact bytes of SHA256SUMS.txt, made with
// the network owner's signing key (node tools/owner.js sign). A program installs only what
// a list signed that way names, so whoever can change a release's files but does not hold
// the owner key cannot run code on members' computers.
#include <string>

enum signature_verdict { signature_good, signature_damaged, signature_wrong };

// The owner's signing key as the protocol writes it (Base64 of the 65-byte uncompressed
// point, 88 characters starting with "B") into point; false for anything else.
bool owner_key_point(const std::string &key, unsigned char point[65]);

// damaged: the .sig text is not one line of Base64 holding 64 bytes (cut short, empty,
// another format). wrong: well formed, but not the owner's signature over these bytes
// (made by another key, or the list changed after signing).
signature_verdict check_release_signature(const std::string &list, const std::string &sig_text,
                                          const unsigned char owner_point[65]);
