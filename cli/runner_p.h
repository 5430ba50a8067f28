#pragma once
// Runs scan39's jobs through the scanning control, offscreen.

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "io_p.h"
#include "options_p.h"
#include "scan39/host/picture.h"

namespace scan39 {
class Uo_Scan;
}

namespace scan39::cli {

enum ExitStatus : int { kExitDecoded = 0, kExitNotDecoded = 1, kExitError = 2 };

// A box a person would drag over a symbol whose bars span the given pixel bounds: from the
// white margin left of it to the white margin right of it, its top edge a few pixels inside
// the bars, dragged down and to the right.
Box BoxAcross(int left, int right, int top, int bottom);

// The names to read, one at a time, in the order the arguments give them: --files-from lists
// read where they stood, a line at a time, so that a list of any length needs no more memory
// than one name; a folder replaced by the pictures in it and its subfolders (judged by
// content, in byte order of their paths; hidden names, links to folders and special files
// passed over).
class NameSource {
  public:
    explicit NameSource(const Options& options);  // `options` must outlive the source
    ~NameSource();
    NameSource(const NameSource&) = delete;
    NameSource& operator=(const NameSource&) = delete;

    // Opens the lists; the message for stderr when one cannot be (nothing to run then).
    std::optional<QString> open();
    // The next name, after `notes`: what to say on stderr before its result (a folder that
    // held no picture or could not be searched, a list that could not be read to its end).
    // False at the end, with the last notes.
    bool next(QByteArray& name, QByteArray& notes);
    // kExitDecoded, kExitNotDecoded when a folder held no picture, or kExitError when a
    // folder could not be searched or a list could not be read, of the names given so far.
    int status() const;
    // Each result is to name its picture: there are several, or they come from a list or a
    // folder.
    bool prefix() const { return prefix_; }

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool prefix_ = false;
};

// Runs the parsed options (help excluded); returns the exit status. A failed write to `out`
// stops the run; the caller reports it.
int Run(const Options& options, Sink& out, Sink& err);

// The next name to read and the notes for stderr before it, as NameSource::next gives them.
using NextName = std::function<bool(QByteArray& name, QByteArray& notes)>;

// The same without --box or --sample: every symbol of each picture, through the reader, the
// names as `next` gives them; `prefix`: each result names its picture. With --oneshot the run
// ends at the first symbol, `found` (when given) then set and the status kExitDecoded.
int RunAutomatic(const Options& options, const NextName& next, bool prefix, Sink& out, Sink& err,
                 bool* found = nullptr);

}  // namespace scan39::cli
