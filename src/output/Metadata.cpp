#include "output/Metadata.h"

#include <sys/stat.h>

#include <array>

#include "host/files/HeldFolders.h"
#include "host/files/NoLinkFile.h"
#include "host/imageio/ImageFile.h"
#include "host/sys/KeyedArchive.h"
#include "host/sys/PropertyList.h"
#include "platform/Log.h"

namespace output {

namespace {

struct TUploadValues {
  std::array<uint8_t, kEmailEntryBufferSize> emailEntryBuffer{};
  int16_t ftpSite = 0;
  std::string customerEmail, groupCode, ticketNumber;
};

TUploadValues& Values() {
  static TUploadValues values;
  return values;
}

bool WriteComment(const std::filesystem::path& file, const host::PlistDict& dict) {
  host::ImageMetadataUpdate update;
  update.userComment = MetadataXml(dict);
  const host::ImageStatus status = host::UpdateImageMetadata(file, update);
  if (!status.ok()) {
    platform::LogF("Error: could not write the metadata of %s: %s", file.c_str(), status.error.c_str());
    return false;
  }
  return true;
}

}  // namespace

void setEmailEntryBuffer(std::span<const uint8_t> block) {
  auto& b = Values().emailEntryBuffer;
  b.fill(0);
  std::copy_n(block.begin(), std::min(block.size(), b.size()), b.begin());
}
void setftpSite(int16_t code) { Values().ftpSite = code; }
void setCustomerEmail(const std::string& s) { Values().customerEmail = s; }
void setGroupCode(const std::string& s) { Values().groupCode = s; }
void setTicketNumber(const std::string& s) { Values().ticketNumber = s; }
int16_t getftpSite() { return Values().ftpSite; }
const std::string& getTicketNumber() { return Values().ticketNumber; }

std::optional<host::PlistDict> ArchivedDictionaryInBlock(std::span<const uint8_t> block) {
  if (block.size() < 4) return std::nullopt;
  const uint8_t* p = block.data() + block.size() - 4;
  const uint32_t length = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  if (length == 0 || length > block.size() - 4) return std::nullopt;
  std::string error;
  auto value = host::decodeKeyedArchive(block.first(length), &error);
  if (!value || !value->asDict()) return std::nullopt;
  return *value->asDict();
}

std::string SiteShortCode(int16_t site) {
  switch (site) {
    case 2: return "kws";
    case 3: return "kft";
    case 4: return "kcl";
    case 5: return "ksh";
    default: return {};
  }
}

host::PlistDict PlainMetadata(const std::string& sourcePath) {
  return host::PlistDict{{"Version", "1.01alpha"}, {"OriginalPath", sourcePath}};
}

host::PlistDict SiteMetadata(const std::string& sourcePath) {
  const auto& v = Values();
  host::PlistDict info{{"OriginalPath", sourcePath}, {"f", SiteShortCode(v.ftpSite)}};
  if (!v.customerEmail.empty()) info["email"] = v.customerEmail;
  if (!v.groupCode.empty()) info["groupCode"] = v.groupCode;
  if (auto user = ArchivedDictionaryInBlock(v.emailEntryBuffer)) info["userdata"] = std::move(*user);
  return host::PlistDict{{"uploadInfo", std::move(info)}};
}

host::PlistDict DornsMetadata(const std::string& sourcePath, std::span<const uint8_t> block) {
  auto info = ArchivedDictionaryInBlock(block);
  if (!info) {
    // Without a customer dictionary the upload side still gets where the
    // picture came from.
    platform::LogLine("Unable to Create Dictionary?????");
    info.emplace();
  }
  (*info)["Version"] = "1.0.2";
  if (!sourcePath.empty()) (*info)["OriginalPath"] = sourcePath;
  (*info)["f"] = "dorns";
  return host::PlistDict{{"uploadInfo", std::move(*info)}};
}

std::string MetadataXml(const host::PlistDict& dict) {
  auto bytes = host::serializePropertyList(host::PlistValue(dict), host::PlistFormat::Xml);
  if (!bytes) return {};
  return std::string(bytes->begin(), bytes->end());
}

bool saveSourceWithMetadata(const std::filesystem::path& file, const std::string& sourcePath) {
  return WriteComment(file, PlainMetadata(sourcePath));
}

void saveSourceWithMetadataBySite(const std::filesystem::path& file, const std::string& sourcePath) {
  if (Values().ftpSite < 2) saveSourceWithMetadata(file, sourcePath);
  else saveSourceWithMetadataSTB(file, sourcePath);
}

bool saveSourceWithMetadataSTB(const std::filesystem::path& file, const std::string& sourcePath) {
  return WriteComment(file, SiteMetadata(sourcePath));
}

bool saveSourceWithMetadataDORNS(const std::filesystem::path& file, const std::string& sourcePath,
                                 std::span<const uint8_t> block) {
  return WriteComment(file, DornsMetadata(sourcePath, block));
}

std::vector<uint8_t> PngMetadataBlock(const std::string& sourcePath) {
  const std::string xml = MetadataXml(PlainMetadata(sourcePath));
  // Cut text is no property list a receiver can read: a dictionary that
  // does not fit gives no block.
  if (xml.empty() || xml.size() > kPngMetadataBlockSize) return {};
  std::vector<uint8_t> block(kPngMetadataBlockSize, 0);
  std::copy(xml.begin(), xml.end(), block.begin());
  return block;
}

bool saveDataInPNGFile(const std::filesystem::path& file, const std::string& sourcePath) {
  struct stat st {};
  if (host::LstatAt(file.string(), &st) != 0 || !S_ISREG(st.st_mode)) return true;
  const auto block = PngMetadataBlock(sourcePath);
  if (block.empty()) {
    platform::LogF("saveDataInPNGFile: the metadata of %s does not fit its %zu-byte block and is not stored",
                   file.c_str(), kPngMetadataBlockSize);
    return true;
  }
  // Added to the file the route made, never through a link put in its
  // place meanwhile.
  std::string note;
  if (!host::AppendWithoutLinks(file.string(), std::string_view(reinterpret_cast<const char*>(block.data()),
                                                                block.size()),
                                &note, false))
    platform::LogF("saveDataInPNGFile: writing to %s failed: %s", file.c_str(), note.c_str());
  else if (!note.empty())
    platform::LogF("saveDataInPNGFile: %s", note.c_str());
  return true;
}

}  // namespace output
