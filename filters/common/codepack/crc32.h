// CRC-32 as used by zlib and PNG (reflected polynomial 0xEDB88320, initial
// and final XOR 0xFFFFFFFF). crc32("123456789") = 0xCBF43926.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlan::codepack {

uint32_t Crc32(const uint8_t* data, size_t length);

}  // namespace vorlan::codepack
