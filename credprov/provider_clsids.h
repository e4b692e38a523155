// The CLSIDs the provider knows by heart: its own, and the providers it may wrap in the order it tries them.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace korva {

// This provider.
inline constexpr com::CLSID kClsidKorvaProvider = {
    0x33592D29, 0x4C1D, 0x4732, {0xA6, 0x07, 0xD0, 0x1A, 0x81, 0x21, 0x53, 0x85}};
// The provider wrapped by default. Its tiles carry a reset feature of their own, so they get no link.
inline constexpr com::CLSID kClsidDefaultWrapped = {
    0x4C00D5F4, 0x6C53, 0x46B0, {0x92, 0x3C, 0xDE, 0x2D, 0x26, 0x54, 0xD7, 0x84}};
// The Windows password provider: the first fallback.
inline constexpr com::CLSID kClsidPasswordProvider = {
    0x60B78E88, 0xEAD8, 0x445C, {0x9C, 0xFD, 0x0B, 0x87, 0xF7, 0x4E, 0xA6, 0xCD}};
// The second fallback.
inline constexpr com::CLSID kClsidSecondFallback = {
    0x6F45DC1E, 0x5384, 0x457A, {0xBC, 0x13, 0x2C, 0xD8, 0x1B, 0x0D, 0x28, 0xED}};

// The field layout (Options) of the credentials of the provider with this CLSID.
uint32_t LayoutForProvider(const com::CLSID& clsid);

}  // namespace korva
