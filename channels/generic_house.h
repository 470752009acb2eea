// CGenericHouse: the in-memory copy of one data file that a channel serves.
// The whole byte image is kept; it is replaced only by a candidate that
// Validate accepts and whose bytes really differ, so readers can rely on the
// last valid image. A source that is a URL is mirrored to a local file, so
// the server starts from the mirror when the network is not there.
//
// Any number of request threads read the image under the shared lock while
// one writer (a worker thread, or a request that posts new data) replaces it
// under the exclusive lock.
//
// Subclasses override validation, the after-change hook and the first load.
// One whose overrides the first load calls must call StopInitialization in
// its own destructor, before its part of the object is gone.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/cp_registry.h"
#include "platform/types.h"
#include "poolmgr/read_write_lock.h"
#include "poolmgr/worker_thread.h"

class CGenericHouse {
 public:
  // Larger files and posted images are refused (traced and reported).
  static constexpr platform::DWORD kMaxImageBytes = 16u * 1024 * 1024;
  // How long Initialize waits for the first load of a URL.
  static constexpr platform::DWORD kInitializeWaitSeconds = 5;

  // `localPath` empty: the file is the source itself. The URL fetch takes its
  // proxy and temporary-directory settings from `settings`.
  explicit CGenericHouse(std::string source, std::string localPath = {},
                         const CPRegistry& settings = CPRegistry());
  virtual ~CGenericHouse();
  CGenericHouse(const CGenericHouse&) = delete;
  CGenericHouse& operator=(const CGenericHouse&) = delete;

  // "http:" or "www." at the start, in any case.
  static bool IsURL(std::string_view source);

  // Writes the image to the local path (when `toLocalPath` or the source is a
  // URL) or to the source. 0, or -1 when there is no image or the write
  // failed; the file is replaced whole or not at all.
  virtual int WriteToDisk(bool toLocalPath);
  // The first load: on this thread for a file, on the init thread for a URL
  // (waited for kInitializeWaitSeconds, then left to finish in the
  // background). 0 when the house holds a valid image, else -1.
  virtual int Initialize();
  // An image that arrived over the network. 0 when stored or identical to
  // the held one, -2 when refused (invalid or too large), -1 when empty.
  virtual int WriteNewData(const char* bytes, platform::DWORD length, bool toLocalPath);
  // Reads `path` (a file or URL) as a candidate image and takes it when it is
  // valid and differs from the held one.
  virtual void CheckFile(std::string path, bool& valid, bool& changed);
  // Called after WriteNewData stored a new image.
  virtual void OnNewData() {}
  // Whether a candidate image may replace the held one; `path` is null for
  // posted data.
  virtual bool Validate(const char* bytes, platform::DWORD length, const char* path);

  // One reload attempt: the source, or the local mirror while the house has
  // never been loaded. True when the image changed.
  bool ReadFiles();
  // The body of the first load: reads and mirrors a fresh URL image.
  void LoadHouse();

  // Copies the image when it fits in `capacity` bytes (0; the changed flag is
  // cleared), else -1. In every case `capacity` receives the image size.
  int GetData(char* destination, std::int32_t& capacity);
  // The image, empty when there is none.
  std::string GetDataString();
  // A copy of the image (0; the changed flag is cleared), or -1.
  int GetDataCopy(std::vector<char>& data, platform::DWORD* size = nullptr);

  bool IsInitialized() const { return m_Initialized.load(); }
  // Whether the image changed since a consumer last took it.
  bool HasChanged() const { return m_Changed.load(); }
  const std::string& GetSource() const { return m_Source; }
  const std::string& GetLocalPath() const { return m_LocalPath; }
  // Modification time of the file the image was read from, or -1.
  std::int64_t GetModificationTime();

 protected:
  // Ends the first load (15 seconds, then waiting for it to finish).
  void StopInitialization();
  // Waits up to `seconds` for a first load still running on the init
  // thread: 1 when none runs (any more), 0 when it still does.
  int WaitForInitialization(platform::DWORD seconds) { return m_InitThread.WaitForCompletion(seconds); }

  CPRegistry m_Settings;

 private:
  // Loads the house once ("InitializeGenericHouse").
  class CInitThread : public CWorkerThread {
   public:
    CInitThread() : CWorkerThread("InitializeGenericHouse", "") {}
    void SetHouse(CGenericHouse* house) { m_pHouse = house; }

   protected:
    platform::DWORD WorkerThreadRun() override;

   private:
    CGenericHouse* m_pHouse = nullptr;
  };

  // A file or image over kMaxImageBytes: traced and reported.
  void ReportTooLarge(const std::string& what, unsigned long long length);

  CInitThread m_InitThread;
  CReadWriteLock m_Lock;
  std::atomic<bool> m_Initialized{false};
  const std::string m_Source;
  const std::string m_LocalPath;
  std::atomic<bool> m_Changed{false};
  // Guarded by m_Lock.
  std::int64_t m_ModificationTime = -1;
  bool m_HasImage = false;
  std::vector<char> m_Image;
};
