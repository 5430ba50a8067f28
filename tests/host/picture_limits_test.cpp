// Loading under hostile conditions: permissions, memory limits, special files, large formats,
// and the image libraries' chatter.
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFile>
#include <QLoggingCategory>
#include <QSet>
#include <QTemporaryDir>
#include <QtEndian>
#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "image_fixtures.h"
#include "scan39/host/errors.h"
#include "scan39/host/picture.h"
#include "scan39/host/picture_error.h"

namespace scan39::host {
namespace {

using namespace test;

constexpr int kCannotDropPrivileges = 99;

// Runs `body` in a forked child and gives its exit status, or -signal when it died.
int ExitStatusInChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The error number a load throws, 0 when it loads.
int ErrorNumberOf(const std::function<void()>& load) {
    try {
        load();
        return 0;
    } catch (const RuntimeError& e) {
        return e.number();
    }
}

QByteArray Bmp24(int w, int h) {
    return MakeBmp(w, h, 24, {}, [](int x, int y) { return quint32(PatternColor(x, y)); });
}

QString Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

// ---- permissions ---------------------------------------------------------------------------

struct PermissionCase {
    const char* name;
    mode_t folderMode;
    mode_t fileMode;
    int number;
};
void PrintTo(const PermissionCase& c, std::ostream* os) {
    *os << c.name;
}

class PermissionTest : public ::testing::TestWithParam<PermissionCase> {};

// Root reads everything, so the child gives up root first.
TEST_P(PermissionTest, SaysNoPermission) {
    const PermissionCase& c = GetParam();
    QTemporaryDir top;
    const QString folder = top.filePath("folder");
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString path = Write(folder + "/a.bmp", Bmp24(4, 4));
    ASSERT_EQ(chmod(QFile::encodeName(top.path()).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), c.fileMode), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), c.folderMode), 0);
    const int status = ExitStatusInChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            return kCannotDropPrivileges;
        }
        return ErrorNumberOf([&] { LoadPicture(path); });
    });
    chmod(QFile::encodeName(folder).constData(), 0755);  // so that the folder can be removed
    if (status == kCannotDropPrivileges) GTEST_SKIP() << "running as root and cannot drop it";
    EXPECT_EQ(status, c.number);
}

INSTANTIATE_TEST_SUITE_P(Files, PermissionTest,
                         ::testing::Values(PermissionCase{"Readable", 0755, 0644, 0},
                                           PermissionCase{"UnreadableFile", 0755, 0600, 70},
                                           // the file exists: not "not found"
                                           PermissionCase{"UnsearchableFolder", 0644, 0644, 70}),
                         [](const auto& p) { return p.param.name; });

// ---- memory ----------------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Caps the address space at what is mapped now plus `headroom` bytes.
bool LimitMemory(qint64 headroom) {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) return false;
    const qint64 pages = statm.readAll().split(' ').value(0).toLongLong();
    const rlim_t limit = static_cast<rlim_t>(pages * sysconf(_SC_PAGESIZE) + headroom);
    const rlimit r{limit, limit};
    return pages > 0 && setrlimit(RLIMIT_AS, &r) == 0;
}

QByteArray ZeroPng16(quint32 width, quint32 height);

TEST(LoadUnderMemoryLimit, OutOfMemoryIsErrorSevenForThatPicture) {
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer needs the whole address space";
    QTemporaryDir dir;
    const QByteArray bmp = Bmp24(3000, 3000);  // 27 MB on disk, 36 MB decoded
    const QString path = Write(dir.filePath("big.bmp"), bmp);
    const struct {
        const char* stage;
        std::function<void()> load;
    } cases[] = {
        {"reading the file", [&] { LoadPicture(path); }},
        {"decoding", [&] { LoadPictureFromData(bmp, "big"); }},
    };
    for (const auto& c : cases) {
        const int status = ExitStatusInChild([&] {
            if (!LimitMemory(8 << 20)) return 1;
            return ErrorNumberOf(c.load);
        });
        EXPECT_EQ(status, 7) << c.stage;
    }
    // However little memory is left, a sound picture loads or is out of memory, never damaged.
    const QByteArray png16 = ZeroPng16(3000, 3000);
    for (const qint64 headroom : {8, 24, 40, 56}) {
        const int status = ExitStatusInChild([&] {
            if (!LimitMemory(headroom << 20)) return 1;
            return ErrorNumberOf([&] { LoadPictureFromData(png16, "png"); });
        });
        EXPECT_TRUE(status == 0 || status == 7) << headroom << " MB left: " << status;
    }
}

// ---- sizes and special files ---------------------------------------------------------------

// A PNG of zeros (transparent black) in 16 bits a channel.
QByteArray ZeroPng16(quint32 width, quint32 height) {
    const QByteArray raw(qsizetype{height} * (1 + qsizetype{width} * 8), '\0');
    const QByteArray z = qCompress(raw, 1).mid(4);  // a zlib stream after a length prefix
    QByteArray png("\x89PNG\r\n\x1A\n", 8);
    const auto chunk = [&png](const char* type, const QByteArray& data) {
        QByteArray body = QByteArray(type, 4) + data;
        for (int i = 3; i >= 0; --i) png.append(char((data.size() >> (8 * i)) & 0xFF));
        png += body;
        const quint32 crc = Crc32(body);
        for (int i = 3; i >= 0; --i) png.append(char((crc >> (8 * i)) & 0xFF));
    };
    QByteArray header(13, '\0');
    for (int i = 0; i < 4; ++i) {
        header[i] = char((width >> (24 - 8 * i)) & 0xFF);
        header[4 + i] = char((height >> (24 - 8 * i)) & 0xFF);
    }
    header[8] = 16;  // bits a channel
    header[9] = 6;   // RGBA
    chunk("IHDR", header);
    chunk("IDAT", z);
    chunk("IEND", {});
    return png;
}

// 36 million pixels, within the bound; Qt decodes them into 8 bytes a pixel.
TEST(LoadLargeFormats, SixteenBitPngWithinTheBoundLoads) {
    const PictureRef p = LoadPictureFromData(ZeroPng16(6000, 6000), "png");
    ASSERT_EQ(p->image().size(), QSize(6000, 6000));
    EXPECT_EQ(p->image().pixel(5999, 5999), qRgb(255, 255, 255));
}

TEST(LoadPictureTest, PathMessages) {
    QTemporaryDir dir;
    const QString file = Write(dir.filePath("a.bmp"), Bmp24(4, 4));
    const QString pipe = dir.filePath("pipe.bmp");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
    const struct {
        QString path;
        int number;
        const char* says;
    } cases[] = {
        // says it is empty, but has content: read, then judged by it
        {"/proc/self/status", 481, "不是 BMP、JPEG、GIF 或 PNG 图片"},
        {file + "/b.bmp", 76, "路径未找到"},
        {dir.filePath("missing/b.bmp"), 53, "文件未找到"},
        {dir.path(), 75, "不是普通文件"},
        {pipe, 75, "不是普通文件"},  // opened without waiting for a writer
        {file, 0, ""},
    };
    for (const auto& c : cases) {
        try {
            LoadPicture(c.path);
            EXPECT_EQ(c.number, 0) << c.path.toStdString() << " loaded";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.number) << c.path.toStdString();
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.says)))
                << e.description().toStdString();
        }
    }
}

// Each reason the loader gives, with its number and its message in both languages: the
// English one for a caller that names the file itself, the Chinese one naming the file.
TEST(LoadPictureTest, ReasonsInBothLanguages) {
    QTemporaryDir dir;
    QByteArray huge = Bmp24(4, 4);
    SetLe32(huge, 18, 100000);
    SetLe32(huge, 22, 100000);
    QByteArray cutJpeg = Encode(PatternImage(64, 64), "JPEG");
    cutJpeg.chop(40);
    const QString file = Write(dir.filePath("a.bmp"), Bmp24(4, 4));
    const struct {
        QString path;
        PictureFault fault;
        int number;
        const char* english;
        const char* chinese;  // %1 the file; the message starts with it
    } cases[] = {
        {dir.filePath("missing.bmp"), PictureFault::FileNotFound, 53, "file not found",
         "文件未找到：文件“%1”"},
        {file + "/b.bmp", PictureFault::PathNotFound, 76,
         "path not found (a part of it is not a folder)",
         "路径未找到：文件“%1”的路径中有一段不是文件夹"},
        {dir.path(), PictureFault::NotOrdinaryFile, 75, "not an ordinary file",
         "路径/文件访问错误：文件“%1”不是普通文件"},
        {Write(dir.filePath("empty.bmp"), {}), PictureFault::Empty, 481, "empty, no picture data",
         "无效图片：文件“%1”是空的，没有图片数据"},
        {Write(dir.filePath("text.png"), "text"), PictureFault::NotAPicture, 481,
         "not a BMP, JPEG, GIF, PNG, TIFF or WebP picture",
         "无效图片：文件“%1”不是 BMP、JPEG、GIF 或 PNG 图片（也不是 TIFF 或 WebP 图片）"},
        {Write(dir.filePath("cut.jpg"), cutJpeg), PictureFault::Truncated, 481, "truncated",
         "无效图片：文件“%1”不完整，JPEG 数据被截断（"},
        {Write(dir.filePath("huge.bmp"), huge), PictureFault::TooLarge, 7,
         "too large (at most 67108864 pixels are accepted)",
         "内存溢出：文件“%1”太大（100000 × 100000 像素，最多允许 67108864 像素）"},
    };
    for (const auto& c : cases) {
        try {
            LoadPicture(c.path);
            ADD_FAILURE() << c.path.toStdString() << " loaded";
        } catch (const PictureError& e) {
            EXPECT_EQ(e.fault(), c.fault) << c.path.toStdString();
            EXPECT_EQ(e.number(), c.number) << c.path.toStdString();
            EXPECT_EQ(e.message(MessageLanguage::English), QString::fromUtf8(c.english));
            EXPECT_EQ(e.message(MessageLanguage::Chinese), e.description());
            EXPECT_TRUE(e.description().startsWith(QString::fromUtf8(c.chinese).arg(c.path)))
                << e.description().toStdString();
        }
    }
}

// Every reason has its own English message and a Chinese one; without a name (the caller
// shows it) the Chinese one says 文件, or nothing more for a file not found.
TEST(LoadPictureTest, EveryReasonRendersInBothLanguages) {
    QSet<QString> english;
    for (int i = 0; i < kPictureFaultCount; ++i) {
        const auto fault = static_cast<PictureFault>(i);
        const PictureError named(fault, {.what = QStringLiteral("文件“x”"), .detail = "d"});
        const PictureError unnamed(fault, {.detail = "d"});
        english.insert(named.message(MessageLanguage::English));
        EXPECT_EQ(named.message(MessageLanguage::English),
                  unnamed.message(MessageLanguage::English));
        const bool noName = fault == PictureFault::NoName || fault == PictureFault::NulInName;
        EXPECT_EQ(named.description().contains(QStringLiteral("文件“x”")), !noName) << i;
        EXPECT_TRUE(unnamed.description().contains(QStringLiteral("文件"))) << i;
        EXPECT_FALSE(unnamed.description().contains(u'“')) << i;
    }
    EXPECT_EQ(english.size(), kPictureFaultCount);
    EXPECT_EQ(PictureError(PictureFault::FileNotFound, {}).description(),
              QStringLiteral("文件未找到"));
}

TEST(LoadPictureTest, TrailingBlanksCanBePartOfTheName) {
    QTemporaryDir dir;
    Write(dir.filePath("a.bmp"), Bmp24(4, 4));
    Write(dir.filePath("a.bmp "), Bmp24(6, 2));
    EXPECT_EQ(LoadPicture(dir.filePath("a.bmp "))->width(), 4);
    EXPECT_EQ(LoadPicture(dir.filePath("a.bmp "), PathBlanks::Keep)->width(), 6);
}

// ---- messages --------------------------------------------------------------------------------

QStringList gSeen;

TEST(SilenceImageLibraryMessages, DropsOnlyTheImageLibrariesChatter) {
    const QtMessageHandler before = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& m) { gSeen << m; });
    SilenceImageLibraryMessages();
    const struct {
        const char* category;
        const char* message;
        bool passes;
    } cases[] = {
        {"qt.gui.imageio.jpeg", "Corrupt JPEG data: 3 extraneous bytes before marker 0xd9", false},
        {"qt.gui.imageio", "libpng warning: iCCP: known incorrect sRGB profile", false},
        {"default", "libpng error: IDAT: CRC error", false},
        {"default", "QImage::setColor: Index out of bound 7", false},
        {"default", "QWidget: something of our own", true},
        {"qt.gui.other", "Corrupt but not ours", true},
    };
    for (const auto& c : cases) {
        gSeen.clear();
        QMessageLogger(nullptr, 0, nullptr, c.category).warning("%s", c.message);
        EXPECT_EQ(gSeen.size(), c.passes ? 1 : 0) << c.message;
    }
    qInstallMessageHandler(before);
}

// The image libraries' complaints never reach standard error, even with their categories on
// and nobody silencing them; and standard error is never taken from other threads meanwhile.
TEST(SilenceImageLibraryMessages, ImageLibrariesNeverWriteToStandardError) {
    QByteArray png = Encode(PatternImage(4, 4), "PNG");
    png[13] = 'X';  // "IHDR" becomes an unknown critical chunk
    QByteArray tiff = Encode(PatternImage(8, 8), "TIFF");
    const int entries = tiff[int(qFromLittleEndian<quint32>(tiff.constData() + 4))];
    tiff[int(qFromLittleEndian<quint32>(tiff.constData() + 4)) + 2 + 12 * (entries - 1)] =
        char(0xE8);  // the last tag becomes an unknown one: libtiff warns
    const QByteArray jpeg = Encode(PatternImage(64, 64), "JPEG");
    const int status = ExitStatusInChild([&] {
        QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=true"));
        const int captured = memfd_create("stderr", 0);
        dup2(captured, STDERR_FILENO);
        std::atomic<bool> done{false};
        int written = 0;
        std::thread writer([&] {
            for (; !done || written < 100; ++written) (void)!::write(STDERR_FILENO, "x\n", 2);
        });
        int errors = 0;
        for (int i = 0; i < 20; ++i) {
            errors += ErrorNumberOf([&] { LoadPictureFromData(png, "png"); }) == 481;
            errors += ErrorNumberOf([&] { LoadPictureFromData(tiff, "tiff"); }) == 0;
            errors += ErrorNumberOf([&] { LoadPictureFromData(jpeg, "jpeg"); }) == 0;
        }
        done = true;
        writer.join();
        if (errors != 60) return 1;
        std::string expected;
        for (int i = 0; i < written; ++i) expected += "x\n";
        std::string text(expected.size() + 4096, '\0');
        text.resize(size_t(std::max<ssize_t>(0, pread(captured, text.data(), text.size(), 0))));
        return text == expected ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace scan39::host
