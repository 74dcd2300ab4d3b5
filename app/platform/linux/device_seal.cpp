#include "app/platform/linux/device_seal.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <string.h>

#include "app/platform/random.h"

static const size_t header_size = 6, nonce_size = 12, tag_size = 16;

static std::string binding_text(const device_binding &b) {
  return "machine=" + b.machine_id + "\nuid=" + std::to_string(b.uid);
}

static std::string header(int method) {
  std::string h("MSWK\x01", 5);
  h.push_back((char)method);
  return h;
}

// The header and the binding, authenticated but not encrypted.
static std::string associated(const std::string &head, const device_binding &b) {
  return head + binding_text(b);
}

std::string seal_secret(int method, const unsigned char key[32], const device_binding &binding,
                        const unsigned char *data, size_t length) {
  unsigned char nonce[nonce_size];
  if (!random_bytes(nonce, sizeof nonce)) return "";
  std::string head = header(method), aad = associated(head, binding);
  std::string out = head + std::string((const char *)nonce, sizeof nonce);
  std::string body(length, '\0');
  unsigned char tag[tag_size];
  int n = 0;
  bool ok = false;
  if (EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new()) {
    ok = EVP_EncryptInit_ex(c, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
         EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, (int)nonce_size, nullptr) == 1 &&
         EVP_EncryptInit_ex(c, nullptr, nullptr, key, nonce) == 1 &&
         EVP_EncryptUpdate(c, nullptr, &n, (const unsigned char *)aad.data(), (int)aad.size()) == 1 &&
         EVP_EncryptUpdate(c, (unsigned char *)&body[0], &n, data, (int)length) == 1 &&
         EVP_EncryptFinal_ex(c, nullptr, &n) == 1 &&
         EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_GET_TAG, (int)tag_size, tag) == 1;
    EVP_CIPHER_CTX_free(c);
  }
  if (!ok) return "";
  return out + body + std::string((const char *)tag, tag_size);
}

int sealed_method(const std::string &sealed) {
  if (sealed.size() < header_size + nonce_size + tag_size) return 0;
  if (sealed.compare(0, 5, std::string("MSWK\x01", 5)) != 0) return 0;
  int method = (unsigned char)sealed[5];
  return method == seal_keyring || method == seal_machine ? method : 0;
}

bool open_sealed(const std::string &sealed, const unsigned char key[32],
                 const device_binding &binding, std::string *data) {
  int method = sealed_method(sealed);
  if (!method) return false;
  std::string aad = associated(sealed.substr(0, header_size), binding);
  const unsigned char *nonce = (const unsigned char *)sealed.data() + header_size;
  size_t body_size = sealed.size() - header_size - nonce_size - tag_size;
  const unsigned char *body = nonce + nonce_size;
  unsigned char tag[tag_size];
  memcpy(tag, body + body_size, tag_size);
  std::string plain(body_size, '\0');
  int n = 0;
  bool ok = false;
  if (EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new()) {
    ok = EVP_DecryptInit_ex(c, EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
         EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_IVLEN, (int)nonce_size, nullptr) == 1 &&
         EVP_DecryptInit_ex(c, nullptr, nullptr, key, nonce) == 1 &&
         EVP_DecryptUpdate(c, nullptr, &n, (const unsigned char *)aad.data(), (int)aad.size()) == 1 &&
         EVP_DecryptUpdate(c, (unsigned char *)&plain[0], &n, body, (int)body_size) == 1 &&
         EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_GCM_SET_TAG, (int)tag_size, tag) == 1 &&
         EVP_DecryptFinal_ex(c, nullptr, &n) == 1;
    EVP_CIPHER_CTX_free(c);
  }
  if (ok) data->swap(plain);
  OPENSSL_cleanse(&plain[0], plain.size());
  return ok;
}

/*
 * Where no Secret Service answers, the key is derived from the machine id and the user id.
 * That binds the file to this computer and account (a copy elsewhere fails to open) but is
 * no secret from someone who can read /etc/machine-id on this machine: it is the fallback,
 * the Secret Service is the protection.
 */
bool machine_key(const device_binding &binding, unsigned char key[32]) {
  if (binding.machine_id.empty()) return false;
  static const char label[] = "msw-device-key";
  std::string message = binding_text(binding);
  unsigned int size = 0;
  return HMAC(EVP_sha256(), label, (int)strlen(label), (const unsigned char *)message.data(),
              message.size(), key, &size) != nullptr &&
         size == 32;
}
