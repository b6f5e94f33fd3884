// The core reports in English (the CLI's language): failures, damage reports
// and where a cache was found, with file names, URLs and numbers set into the
// sentences. The window says the same in Japanese. These functions put the
// core's phrases into Japanese and leave the names, URLs and numbers as they
// are; a phrase this table does not know stays as the core wrote it rather
// than being dropped.
#pragma once

#include "platform/error.h"

#include <QString>
#include <string>
#include <string_view>

namespace tarnhold {
struct TReadReport;
struct TRecordFileRead;
class TWebCacheTree;
} // namespace tarnhold

namespace tarnhold::gui {

// A failure, a damage report or any other sentence of the core (UTF-8) in
// Japanese, not yet escaped for display.
QString JapaneseText(std::string_view english);
// Where a cache was found ("the demo cache", "Chromium, profile Default").
QString JapaneseWhere(const std::string& english);
// A failure for a message box or the status bar: Japanese, with its control
// characters escaped.
QString ErrorText(const TError& error);
// What a read of the cache could not read, in Japanese and escaped; empty when
// the cache was read whole.
QString ReadReportText(const TReadReport& report);
// What went wrong reading the data file name (as the user knows it), for the
// status bar, not yet escaped; empty when all was read (or there was none).
QString DataFileProblem(const QString& name, const TRecordFileRead& read);
// The same for the rename list of the cache the tree reads and, while that
// cache takes its records from it, for the list all caches shared; empty
// when both were read whole.
QString RenameListProblem(const TWebCacheTree& tree);

} // namespace tarnhold::gui
