// FileOpener on Windows: every file opened by its whole path, on the
// writer's thread.
#include <cstddef>
#include <string>
#include <vector>

#include "fastio/file_opener.h"

namespace quarrion::fastio {

using host::InputFile;

// Windows opens by whole path, one file at a time (and keeps its look before
// opening: a device name needs no listing to look like a file).
struct FileOpener::State {};

FileOpener::FileOpener() = default;
FileOpener::~FileOpener() = default;

std::size_t FileOpener::MostOpenAhead() { return 0; }

void FileOpener::Expect(std::vector<const std::string*>) {}

void FileOpener::Close(InputFile* file) { file->Close(); }

Status FileOpener::Open(const std::string& path, InputFile* file) { return file->Open(path); }

}  // namespace quarrion::fastio
