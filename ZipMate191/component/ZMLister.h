// The listing worker: keeps the directory view of the component's current archive,
// lists it again when a worker has rewritten it, and takes over the settings stored
// with the archive (self-extractor settings, multi-part settings).
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ZMCenDir.h"
#include "ZMCore.h"

class TMemoryStream;
class TZMZipFile;

// FState values.
inline constexpr uint8_t kListerIdle = 0;
inline constexpr uint8_t kListerListed = 2;
inline constexpr uint8_t kListerRewritten = 3;

// Results of reading a self-extractor stub's settings.
inline constexpr int32_t kSFXBadHeader = int32_t(0xF5F7174Eu);     // message 178
inline constexpr int32_t kSFXBadTextTable = int32_t(0xF5F5834Eu);  // message 178

// The settings a self-extractor stub carries.
struct TZMSFXSettings {
  int Version = 0;  // 1 or 2
  uint16_t Options = 0;
  TZMOvrOpts OverwriteMode = ovrAlways;
  uint8_t MessageFlags = 0;
  std::string Caption, DefaultDir, CommandLine, RegFailPath, Message;
};

class TZMLister : public TZMCore {
 public:
  explicit TZMLister(TCustomZipMate& master);
  ~TZMLister() override;

  // Sets ZipFileName; mode 1 lists and raises OnDirUpdate at the end, mode 2 lists
  // without that last event, mode 0 only stores the name.
  void SetArchiveName(const std::string& name, int mode);
  // Lists the archive into the view. A missing file gives an empty view and error 123,
  // recorded silently; other open errors are shown. Unreadable records raise.
  void LoadArchive(const std::string& name, bool quiet);
  // Reads the archive's directory as LoadArchive does, handing each record the view
  // would show to each and keeping none; the view is left as it is. True when the
  // directory was read; open errors are reported as LoadArchive reports them.
  bool ScanArchive(const std::string& name, const std::function<bool(const TZMDirEntry&)>& each);
  // A name is set and a valid directory is loaded.
  bool CanProcess() const;
  // The reader decodes its names again with the current settings.
  void ClearCachedNames();
  void Prepare() override;
  void Finished(bool good) override;

  TZMCenDir& CenDir() const { return *FCenDir; }
  uint8_t State() const { return FState; }
  // Workers that rewrote the archive mark it so that it is listed again at the end.
  void SetState(uint8_t v) { FState = v; }

  // Whether the archive named name is a self-extractor header kept apart from its
  // archive (the central directory follows the stub directly).
  bool IsDetachedSFXHeader(const std::string& name);
  // Takes over the settings stored with the listed archive.
  void TakeOverSettings();
  // Reads the settings of the stub image into the component: 0 (also when the image
  // is no self-extractor) or a negative code.
  int32_t ReadSFXSettings(TMemoryStream& stub);

  // Parses the self-extractor header that follows the executable image; 0 when the
  // image carries none (too short, no "MZ"), 1 with settings filled, or a negative
  // code for a damaged header.
  static int32_t ParseSFXHeader(const uint8_t* image, size_t size, TZMSFXSettings& settings);
  // The end of the executable image (largest raw-data end of its sections), or -1 when
  // the image has no valid PE header.
  static int64_t ImageEnd(const uint8_t* image, size_t size);

 private:
  std::unique_ptr<TZMCenDir> FCenDir;
  uint8_t FState = kListerIdle;
};
