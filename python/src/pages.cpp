#include "pages.h"

#include <QFile>
#include <functional>
#include <memory>

#include "io_p.h"
#include "scan39/grade.h"
#include "scan39/host/document.h"
#include "scan39/host/errors.h"

namespace scan39::python {

namespace {

cli::Language MessageLanguage() {
    static const cli::Language language = cli::LanguageFromEnvironment();
    return language;
}

std::vector<PageSymbols> ReadPages(int count, const std::function<host::PictureRef(int)>& load,
                                   const reader::ReadOptions& options, bool grade) {
    std::vector<PageSymbols> pages;
    for (int i = 0; i < count; ++i) {
        PageSymbols page;
        page.page = count > 1 ? i + 1 : 0;
        try {
            const host::PictureRef picture = load(i);
            const GreyPicture grey = GreyOf(*picture);
            ReadGrey(grey.view, options, grade, page);
        } catch (const PictureFailure& e) {
            // The only page's failure is the source's, raised as for any picture.
            if (count == 1) throw;
            page.error = e;
        }
        pages.push_back(std::move(page));
    }
    return pages;
}

}  // namespace

void ReadGrey(const reader::GreyView& view, const reader::ReadOptions& options, bool grade,
              PageSymbols& into) {
    reader::ReadResult read = reader::ReadAll(view, options);
    into.symbols = std::move(read.symbols);
    into.truncated = read.truncated;
    into.grades.clear();
    if (grade)
        for (const auto& s : into.symbols)
            into.grades.push_back(reader::GradeJson(reader::Grade(view, s)));
}

std::vector<PageSymbols> ReadPagesOfPath(const QByteArray& encodedPath, int dpi,
                                         const reader::ReadOptions& options, bool grade) {
    const QString path = QFile::decodeName(encodedPath);
    const auto failure = [&](const cli::LoadError& e) {
        return PictureFailure(e.number, e.text(MessageLanguage()), path);
    };
    std::unique_ptr<cli::NamedPages> pages;
    try {
        pages = std::make_unique<cli::NamedPages>(encodedPath, false, dpi);
    } catch (const cli::LoadError& e) {
        throw failure(e);
    }
    return ReadPages(
        pages->count(),
        [&](int i) {
            try {
                return pages->load(i);
            } catch (const cli::LoadError& e) {
                throw failure(e);
            }
        },
        options, grade);
}

std::vector<PageSymbols> ReadPagesOfData(const QByteArray& bytes, int dpi,
                                         const reader::ReadOptions& options, bool grade) {
    const auto failure = [](const host::RuntimeError& e) {
        return PictureFailure(e.number(), cli::FromRuntimeError(e).text(MessageLanguage()),
                              QString());
    };
    std::unique_ptr<host::Document> document;
    try {
        document = std::make_unique<host::Document>(bytes, DataName(), dpi);
    } catch (const host::RuntimeError& e) {
        throw failure(e);
    }
    return ReadPages(
        document->pageCount(),
        [&](int i) {
            try {
                if (document->isPdf()) return document->loadPage(i);
                const std::lock_guard lock(DecodeLock());
                return document->loadPage(i);
            } catch (const host::RuntimeError& e) {
                throw failure(e);
            }
        },
        options, grade);
}

}  // namespace scan39::python
