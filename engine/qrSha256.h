// SHA-256 over a stream of bytes, through OpenSSL's EVP interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "isofs/qrManifest.h"

struct evp_md_ctx_st;

namespace brenwick {

class TSha256 {
  public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    // Starts a new digest (the constructor has started one).
    void Reset();
    void Update(const std::uint8_t* bytes, std::size_t count);
    // The digest of everything since the last Reset; starts a new one.
    TSha256Digest Finish();

  private:
    struct TFree {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, TFree> m_context;
};

}  // namespace brenwick
