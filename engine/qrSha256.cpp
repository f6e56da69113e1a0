// SHA-256 (see qrSha256.h). A failure of the library (out of memory) aborts: a digest that silently
// differs from the bytes would make a good disc fail its check or, worse, a bad one pass.
#include "engine/qrSha256.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace brenwick {

namespace {

void Check(int result) {
    if (result != 1) std::abort();
}

}  // namespace

void TSha256::TFree::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

TSha256::TSha256() : m_context(EVP_MD_CTX_new()) {
    if (!m_context) std::abort();
    Reset();
}

TSha256::~TSha256() = default;

void TSha256::Reset() {
    Check(EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr));
}

void TSha256::Update(const std::uint8_t* bytes, std::size_t count) {
    if (count > 0) Check(EVP_DigestUpdate(m_context.get(), bytes, count));
}

TSha256Digest TSha256::Finish() {
    TSha256Digest digest{};
    unsigned int length = 0;
    Check(EVP_DigestFinal_ex(m_context.get(), digest.data(), &length));
    Reset();
    return digest;
}

}  // namespace brenwick
