// The real kernel layer: movable memory blocks kept in a table by handle, and the default
// printer's device context through Qt's print support.
//
// With no printer installed Qt prints to PDF files, and its print and page-setup dialogs
// offer exactly that. DefaultPrinterDC follows suit: it hands out the context of a QPrinter
// in PDF mode, so the font dialog stays usable on machines without a printer. It throws only
// when no printer can be set up at all (no GUI application running, or Qt reports the
// printer invalid).

#include <QGuiApplication>
#include <QPrinter>
#include <QPrinterInfo>
#include <cstring>
#include <map>
#include <memory>
#include <new>

#include "scan39/dialogs/kernel.h"
#include "scan39/host/errors.h"

namespace scan39::dialogs {
namespace {

// The run time's number for "cannot get printer information from the system".
constexpr int kErrPrinterInformation = 484;

class SystemKernelLayer final : public KernelLayer {
  public:
    HGLOBAL GlobalAlloc(std::uint32_t flags, std::size_t bytes) override {
        Block block;
        // A zero-byte block still gets one byte, so that locking it yields a usable pointer.
        const std::size_t size = bytes == 0 ? 1 : bytes;
        try {
            block.data.reset((flags & GMEM_ZEROINIT) != 0 ? new std::byte[size]()
                                                          : new std::byte[size]);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        const HGLOBAL handle = nextHandle_++;
        blocks_.emplace(handle, std::move(block));
        return handle;
    }

    void* GlobalLock(HGLOBAL handle) override {
        Block* block = find(handle);
        if (!block) return nullptr;
        ++block->locks;
        return block->data.get();
    }

    // As the platform does: true while the block is still locked after this unlock, false
    // once it is unlocked (or was not locked, or is unknown).
    bool GlobalUnlock(HGLOBAL handle) override {
        Block* block = find(handle);
        if (!block || block->locks == 0) return false;
        --block->locks;
        return block->locks > 0;
    }

    // A locked block is not freed: somebody still holds a pointer into it, and a leak is
    // the lesser harm than a dangling pointer. The handle comes back as the failure mark.
    HGLOBAL GlobalFree(HGLOBAL handle) override {
        const auto it = blocks_.find(handle);
        if (it == blocks_.end() || it->second.locks > 0) return handle;
        blocks_.erase(it);
        return 0;
    }

    void RtlMoveMemory(void* destination, const void* source, std::size_t bytes) override {
        if (bytes != 0) std::memmove(destination, source, bytes);
    }

    HDC DefaultPrinterDC() override {
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            throw host::RuntimeError(kErrPrinterInformation,
                                     QStringLiteral("无法获取打印机信息：图形界面程序尚未启动"));
        // Asked afresh each time: the user may have changed the default printer meanwhile.
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        const QString name = info.isNull() ? QString() : info.printerName();
        if (!printer_ || name != printerName_) {
            auto printer = info.isNull()
                               ? std::make_unique<QPrinter>(QPrinter::HighResolution)
                               : std::make_unique<QPrinter>(info, QPrinter::HighResolution);
            if (info.isNull()) printer->setOutputFormat(QPrinter::PdfFormat);
            if (!printer->isValid())
                throw host::RuntimeError(
                    kErrPrinterInformation,
                    QStringLiteral("无法获取打印机信息：默认打印机“%1”不可用").arg(name));
            releasePrinterWithApplication();
            printer_ = std::move(printer);
            printerName_ = name;
            printerDC_ = nextDC_++;
        }
        return printerDC_;
    }

  private:
    struct Block {
        std::unique_ptr<std::byte[]> data;
        int locks = 0;
    };

    Block* find(HGLOBAL handle) {
        const auto it = blocks_.find(handle);
        return it == blocks_.end() ? nullptr : &it->second;
    }

    // The printer must go before Qt's print support does, which outlives the application
    // object only as far as post routines run.
    void releasePrinterWithApplication() {
        if (postRoutineAdded_) return;
        postRoutineAdded_ = true;
        qAddPostRoutine([] {
            auto& self = static_cast<SystemKernelLayer&>(SystemKernel());
            self.printer_.reset();
            self.printerName_.clear();
            self.printerDC_ = 0;
            self.postRoutineAdded_ = false;
        });
    }

    std::map<HGLOBAL, Block> blocks_;
    HGLOBAL nextHandle_ = 0x1000;
    std::unique_ptr<QPrinter> printer_;
    QString printerName_;
    HDC printerDC_ = 0;
    HDC nextDC_ = 0x5000;
    bool postRoutineAdded_ = false;
};

}  // namespace

KernelLayer& SystemKernel() {
    static SystemKernelLayer kernel;
    return kernel;
}

}  // namespace scan39::dialogs
