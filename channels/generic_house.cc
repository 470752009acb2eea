#include "channels/generic_house.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "base/event_catalogue.h"
#include "base/text_scan.h"
#include "base/trace_bits.h"
#include "platform/file.h"
#include "platform/sync.h"
#include "platform/trace.h"
#include "upstream/http_file.h"

using platform::DWORD;

namespace {

constexpr DWORD kStopSeconds = 15;

bool SameBytes(const std::vector<char>& image, const char* bytes, std::size_t length) {
  return image.size() == length && (length == 0 || std::equal(image.begin(), image.end(), bytes));
}

// Fills `buffer` from the file; false when it ends early or a read fails.
bool ReadWhole(HTTPFile& file, std::vector<char>& buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const long long got = file.Read(buffer.data() + done, buffer.size() - done);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// Writes `bytes` beside `path` and renames the result over it, so a reader
// of the file sees the old or the new image, never part of one.
bool ReplaceFile(const std::string& path, const std::vector<char>& bytes) {
  static std::atomic<unsigned> sequence{0};
  const std::string temporary = path + ".tmp" + std::to_string(sequence++);
  std::error_code error;
  // A file left by an interrupted write would block this one.
  std::filesystem::remove(temporary, error);
  std::unique_ptr<platform::File> file = platform::File::Open(temporary, platform::File::Mode::kCreateNew);
  bool written = file != nullptr && (bytes.empty() || file->Write(bytes.data(), bytes.size()) >= 0) && file->Flush();
  file.reset();
  if (written) {
    std::filesystem::rename(temporary, path, error);
    written = !error;
  }
  if (!written) std::filesystem::remove(temporary, error);
  return written;
}

}  // namespace

CGenericHouse::CGenericHouse(std::string source, std::string localPath, const CPRegistry& settings)
    : m_Settings(settings),
      m_Source(std::move(source)),
      m_LocalPath(localPath.empty() ? m_Source : std::move(localPath)) {}

CGenericHouse::~CGenericHouse() { StopInitialization(); }

void CGenericHouse::StopInitialization() {
  m_InitThread.Stop(kStopSeconds);
  // The load uses the image and the lock: they must outlive it.
  m_InitThread.WaitForDetachedThread(platform::kInfinite);
}

bool CGenericHouse::IsURL(std::string_view source) {
  return net::StartsWithNoCase(source, "http:") || net::StartsWithNoCase(source, "www.");
}

DWORD CGenericHouse::CInitThread::WorkerThreadRun() {
  if (m_pHouse != nullptr) m_pHouse->LoadHouse();
  return 0;
}

int CGenericHouse::Initialize() {
  if (!m_Initialized) {
    m_Changed = false;
    if (IsURL(m_Source)) {
      m_InitThread.SetHouse(this);
      m_InitThread.Start(false);
      m_InitThread.WaitForCompletion(kInitializeWaitSeconds);
    } else {
      LoadHouse();
    }
  }
  const bool initialized = m_Initialized;
  trace(trace_bits::kHouse, "GenericHouse: (%s) Initialize returning/%scomplete\n", m_Source.c_str(),
        initialized ? "" : "in-");
  return initialized ? 0 : -1;
}

void CGenericHouse::LoadHouse() {
  if (ReadFiles() && m_Source != m_LocalPath && IsURL(m_Source)) WriteToDisk(false);
}

bool CGenericHouse::ReadFiles() {
  bool valid = false;
  bool changed = false;
  CheckFile(m_Source, valid, changed);
  // Never loaded: the mirror an earlier run left stands in for the source.
  if (!valid && !m_Initialized && m_LocalPath != m_Source) CheckFile(m_LocalPath, valid, changed);
  if (valid) m_Initialized = true;
  // Only a consumer taking the image clears the flag: a check that finds
  // nothing new must not hide a change nobody has taken yet.
  if (changed) m_Changed = true;
  return changed;
}

void CGenericHouse::CheckFile(std::string path, bool& valid, bool& changed) {
  trace(trace_bits::kHouse, "GenericHouse: Checking file \"%s\"\n", path.c_str());
  valid = false;
  changed = false;
  try {
    HTTPFile file(m_Settings);
    // A local file is read where it is; anything else is fetched as a URL.
    const bool local = platform::FileModificationTime(path) >= 0;
    if (!local && file.Open(path) != 1) {
      trace(trace_bits::kHouse, "GenericHouse: File \"%s\" does not exist!\n", path.c_str());
      return;
    }
    if (local && file.Open(path) != 1) {
      trace(trace_bits::kHouse, "GenericHouse: Unable to open file \"%s\"\n", path.c_str());
      return;
    }
    const std::string readFrom = local ? path : file.GetFilePath();

    trace(trace_bits::kHouse, "GenericHouse: Reading File \"%s\"\n", path.c_str());
    const long long length = file.GetLength();
    if (length < 0) {
      trace(trace_bits::kHouseError, "GenericHouse: CheckFile: File exception on \"%s\"\n", path.c_str());
      return;
    }
    if (length > static_cast<long long>(kMaxImageBytes)) {
      ReportTooLarge(path, static_cast<unsigned long long>(length));
      return;
    }
    std::vector<char> buffer(static_cast<std::size_t>(length));
    if (!ReadWhole(file, buffer)) {
      trace(trace_bits::kHouseError, "GenericHouse: CheckFile: File exception on \"%s\"\n", path.c_str());
      return;
    }
    file.Close();

    valid = Validate(buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    CExclusiveLock hold(m_Lock);
    if (!valid) {
      trace(trace_bits::kHouse, "GenericHouse: File \"%s\" not valid\n", path.c_str());
    } else if (m_HasImage && SameBytes(m_Image, buffer.data(), buffer.size())) {
      trace(trace_bits::kHouse, "GenericHouse: File \"%s\" unchanged\n", path.c_str());
    } else {
      m_Image.swap(buffer);
      m_HasImage = true;
      m_ModificationTime = platform::FileModificationTime(readFrom);
      m_Changed = true;
      changed = true;
    }
  } catch (const std::exception&) {
    trace(trace_bits::kHouseError, "GenericHouse: CheckFile: General exception on \"%s\"\n", path.c_str());
  }
}

bool CGenericHouse::Validate(const char* bytes, DWORD length, const char* path) { return true; }

int CGenericHouse::WriteToDisk(bool toLocalPath) {
  CSharedLock hold(m_Lock);
  const std::string& destination = toLocalPath || IsURL(m_Source) ? m_LocalPath : m_Source;
  // A URL without a separate local path has no file to write to.
  if (!m_Initialized || !m_HasImage || net::StartsWithNoCase(destination, "http:")) {
    trace(trace_bits::kHouse, "GenericHouse: (%s) Unable to write to disk.\n", m_Source.c_str());
    return -1;
  }
  try {
    if (!ReplaceFile(destination, m_Image)) {
      trace(trace_bits::kHouseError, "GenericHouse: WriteToDisk: File exception on \"%s\"\n", destination.c_str());
      return -1;
    }
  } catch (const std::exception&) {
    trace(trace_bits::kHouseError, "GenericHouse: WriteToDisk: General exception on \"%s\"\n", destination.c_str());
    return -1;
  }
  trace(trace_bits::kHouse, "GenericHouse: Wrote \"%s\" to disk.\n", destination.c_str());
  return 0;
}

int CGenericHouse::WriteNewData(const char* bytes, DWORD length, bool toLocalPath) {
  if (length > kMaxImageBytes) {
    ReportTooLarge(m_Source, length);
    return -2;
  }
  if (bytes == nullptr && length > 0) {
    trace(trace_bits::kHouse, "GenericHouse: (%s) Invalid data.\n", m_Source.c_str());
    return -2;
  }
  {
    CSharedLock hold(m_Lock);
    if (m_HasImage && SameBytes(m_Image, bytes, length)) {
      trace(trace_bits::kHouse, "GenericHouse: (%s) Attempt to write identical data.\n", m_Source.c_str());
      return 0;
    }
  }
  if (!Validate(bytes, length, nullptr)) {
    trace(trace_bits::kHouse, "GenericHouse: (%s) Invalid data.\n", m_Source.c_str());
    return -2;
  }
  // Nothing to serve: the last valid image stays.
  if (length == 0) {
    trace(trace_bits::kHouse, "GenericHouse: (%s) No data; the held image stays.\n", m_Source.c_str());
    return -1;
  }
  std::vector<char> image(bytes, bytes + length);
  {
    CExclusiveLock hold(m_Lock);
    m_Image.swap(image);
    m_HasImage = true;
    // A validated image is a valid one, however it arrived.
    m_Initialized = true;
    m_Changed = true;
  }
  // Outside the exclusive lock: WriteToDisk takes the shared one, and writes
  // whatever image is newest by then.
  WriteToDisk(toLocalPath);
  trace(trace_bits::kHouse, "GenericHouse: (%s) Wrote new data.\n", m_Source.c_str());
  OnNewData();
  return 0;
}

int CGenericHouse::GetData(char* destination, std::int32_t& capacity) {
  CSharedLock hold(m_Lock);
  const std::size_t size = m_HasImage ? m_Image.size() : 0;
  const bool fits = m_HasImage && capacity >= 0 && size <= static_cast<std::size_t>(capacity) &&
                    (destination != nullptr || size == 0);
  if (fits) {
    std::copy(m_Image.begin(), m_Image.end(), destination);
    m_Changed = false;
  }
  capacity = static_cast<std::int32_t>(size);
  return fits ? 0 : -1;
}

std::string CGenericHouse::GetDataString() {
  CSharedLock hold(m_Lock);
  return m_HasImage ? std::string(m_Image.begin(), m_Image.end()) : std::string();
}

int CGenericHouse::GetDataCopy(std::vector<char>& data, DWORD* size) {
  CSharedLock hold(m_Lock);
  if (!m_HasImage) return -1;
  data = m_Image;
  if (size != nullptr) *size = static_cast<DWORD>(m_Image.size());
  m_Changed = false;
  return 0;
}

std::int64_t CGenericHouse::GetModificationTime() {
  CSharedLock hold(m_Lock);
  return m_ModificationTime;
}

void CGenericHouse::ReportTooLarge(const std::string& what, unsigned long long length) {
  trace(trace_bits::kHouse, "GenericHouse: \"%s\" holds %llu bytes, more than the %u a house keeps\n", what.c_str(),
        length, kMaxImageBytes);
  const std::string reason =
      "it holds " + std::to_string(length) + " bytes, more than the " + std::to_string(kMaxImageBytes) + " a house keeps";
  events::Report<events::kHouseFileRefused>(what, reason);
}
