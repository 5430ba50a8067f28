#pragma once
// Our kernel layer: movable global memory blocks, memory moves, and the default printer's
// device context, as the font dialog needs them.

#include <cstddef>
#include <cstdint>

#include "scan39/dialogs/comdlg.h"

namespace scan39::dialogs {

inline constexpr std::uint32_t GMEM_MOVEABLE = 0x2;
inline constexpr std::uint32_t GMEM_ZEROINIT = 0x40;
inline constexpr std::uint32_t GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;  // 0x42

class KernelLayer {
  public:
    virtual ~KernelLayer() = default;
    // 0 when the block cannot be allocated.
    virtual HGLOBAL GlobalAlloc(std::uint32_t flags, std::size_t bytes) = 0;
    // nullptr for an unknown handle.
    virtual void* GlobalLock(HGLOBAL block) = 0;
    // True while the block stays locked after this unlock, false once it is unlocked.
    virtual bool GlobalUnlock(HGLOBAL block) = 0;
    // 0 on success, the handle on failure (as the platform reports it).
    virtual HGLOBAL GlobalFree(HGLOBAL block) = 0;
    virtual void RtlMoveMemory(void* destination, const void* source, std::size_t bytes) = 0;
    // The default printer's device context; throws host::RuntimeError when there is none.
    virtual HDC DefaultPrinterDC() = 0;
};

// The real layer: heap blocks with lock counts, and Qt's default printer.
KernelLayer& SystemKernel();

}  // namespace scan39::dialogs
