#pragma once
// Cutting a scanned batch (a PDF or a multi-page TIFF) into its documents: at separator sheets
// that carry a Code 39 symbol (PATCHT), or before each page that carries a document's number
// (ASN00123). The parts copy the original pages as they are in the file: a PDF's page objects
// with their images, fonts and text, a TIFF's page directories with their compressed data.
// Nothing is drawn again, and the input is only read.

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace scan39::documents {

// Resolution PDF pages are drawn at to find the symbols: a separator's symbol is large.
inline constexpr int kSplitDpi = 150;
// Seconds a batch may take to be read: a batch is hundreds of pages, not one sheet.
inline constexpr int kSplitFileSeconds = 600;

struct SplitRules {
    QStringList separators{QStringLiteral("PATCHT")};  // texts that make a page a separator
    QRegularExpression separatorPattern;               // or matching texts (when valid, non-empty)
    QRegularExpression nameFrom;                       // a document's first page, and its name
    bool keepSeparators = false;
    bool stopOnError = false;  // --on-error stop: a file with an unreadable page is not split
};

// What one page gave: its symbols' texts in reading order, or why it could not be read.
struct PageFinding {
    std::vector<std::string> texts;
    std::optional<QString> error;  // English
};

// One output file: pages from 0, in the file's order.
struct SplitPart {
    std::vector<int> pages;
    std::vector<int> separators;  // the separator pages that cut it off (kept or dropped)
    QString name;                 // from --name-from; empty: STEM-NNN
    QStringList otherNames;       // further names on its first page, not used
    QByteArray leaf;              // the file name in the output folder, once known
};

// The documents in `findings`, by `rules`:
// - a separator page ends the document before it and is dropped, or with keepSeparators
//   starts the next one; a page that is both a separator and a name page is a separator whose
//   name goes to the document after it;
// - a page with a name (the whole match of nameFrom, the first of its symbols in reading order
//   that matches) starts a new document, unless it carries the name the current document
//   already has or the current document has no page yet;
// - parts without a page other than separators (two separators in a row, one at the start or
//   the end) are no parts: kept separators join the document after them, or, at the end, the
//   one before;
// - an unreadable page stays in the current document (it is not known to be a separator).
std::vector<SplitPart> PlanParts(const std::vector<PageFinding>& findings, const SplitRules& rules);

// Whether `text` makes a page a separator; the name it gives, if any.
bool IsSeparator(const std::string& text, const SplitRules& rules);
std::optional<QString> NameIn(const std::string& text, const SplitRules& rules);

// A name as a file name: '/', control characters and a leading '.' become '_'.
QByteArray SafeLeaf(const QString& name);

// The part files, built from the original bytes. Throw std::runtime_error (English) when a page
// cannot be copied as it is.
QByteArray PdfPart(const QByteArray& pdf, const std::vector<int>& pages);
QByteArray TiffPart(const QByteArray& tiff, const std::vector<int>& pages);

struct SplitOptions {
    SplitRules rules;
    int dpi = kSplitDpi;  // PDF pages are drawn at this to find the symbols
    int fileSeconds = 0;  // 0: kSplitFileSeconds
    bool fast = false;    // the reader's fast effort
    bool dryRun = false;
};

// What became of one input file.
struct SplitResult {
    QByteArray input;
    std::optional<QString> error;  // the file as a whole: not read, not a PDF or TIFF
    int pageCount = 0;
    std::vector<std::pair<int, QString>> pageErrors;  // page from 0, English
    std::vector<SplitPart> parts;
    // Writing: the parts whose files were written (dry run: would be), then the first failure.
    int written = 0;
    std::optional<QString> writeError;
    bool isPdf = false;
    QByteArray bytes;  // the input, kept from the reading for the writing
};

// Reads the file (its exact name) and plans its parts; writes nothing.
SplitResult PlanFile(const QByteArray& input, const SplitOptions& options);

// Writes the planned parts into the folder `dirFd` (named for the output as `dirShown`),
// never over a file; with dryRun only names them, as they would be named. `taken` lists the
// names this run has used already, and gets the new ones.
void WriteParts(SplitResult& result, int dirFd, bool dryRun, std::vector<QByteArray>& taken);

// The records: one per part, then one per page error, and one for a file error.
//   {"input":"scan.pdf","output":"out/scan-001.pdf","pages":[1,2],"separators":[3],"name":null}
//   {"input":"scan.pdf","page":4,"error":"..."}
// Pages from 1. `output` is the folder as the user named it.
std::vector<std::string> SplitRecords(const SplitResult& result, const QByteArray& outDir);

}  // namespace scan39::documents
