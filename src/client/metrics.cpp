// SPDX-License-Identifier: MIT
// The metrics interface. The library records no metrics, so every record it
// fills is zero and every serialisation is the empty text.
#include <cstring>

#include "velkmock.h"

extern "C" {

VELK_API void velk_sdk_metrics_ctx_reset(velk_sdk_metrics_ctx_t* ctx) {
    if (ctx != nullptr) {
        std::memset(ctx, 0, sizeof *ctx);
    }
}

VELK_API int32_t velk_client_get_metrics(const velk_client* client, velk_sdk_metrics_ctx_t* metrics) {
    if (client == nullptr || metrics == nullptr) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    std::memset(metrics, 0, sizeof *metrics);
    return VELK_OK;
}

VELK_API int32_t velk_sdk_metrics_serialize(const velk_sdk_metrics_ctx_t* metrics, char* out,
                                            uint64_t out_size, uint64_t* out_len) {
    if (metrics == nullptr || out == nullptr || out_size == 0 || out_len == nullptr) {
        return VELK_ERR_INVALID_ARGUMENT;
    }
    *out_len = 0;
    out[0] = '\0';
    return VELK_OK;
}

}  // extern "C"
