#include "tests/support/storm_build.h"

#include <StormLib.h>

namespace veltrane::test_support {
namespace {

// The file time given to every member, so archives built twice are byte-identical.
constexpr ULONGLONG kMemberTime = 0x01D0000000000000ull;

std::string Failed(const std::string& what) {
  return what + ": StormLib error " + std::to_string(GetLastError());
}

}  // namespace

StormBuilder::StormBuilder(const std::filesystem::path& path, const StormArchive& recipe) {
  SFILE_CREATE_MPQ create{};
  create.cbSize = sizeof(create);
  create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
  create.dwFileFlags1 = recipe.listfile ? recipe.internal_flags : 0;
  create.dwFileFlags2 = recipe.attributes ? recipe.internal_flags : 0;
  create.dwAttrFlags = recipe.attributes ? recipe.attribute_flags : 0;
  create.dwSectorSize = recipe.sector_size;
  create.dwMaxFileCount = recipe.max_files;
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  HANDLE mpq = nullptr;
  if (!SFileCreateArchive2(path.c_str(), &create, &mpq)) {
    error_ = Failed("cannot create " + path.string());
    return;
  }
  mpq_ = mpq;
  for (const auto& member : recipe.members) Add(member);
}

StormBuilder::~StormBuilder() {
  Finish();
}

bool StormBuilder::Add(const StormMember& member) {
  if (!error_.empty()) return false;
  HANDLE file = nullptr;
  const auto size = static_cast<DWORD>(member.content.size());
  const bool made = SFileCreateFile(mpq_, member.name.c_str(), kMemberTime, size, member.locale,
                                    member.flags | MPQ_FILE_REPLACEEXISTING, &file);
  const bool written =
      made && (size == 0 || SFileWriteFile(file, member.content.data(), size, member.compression));
  const bool finished = made && SFileFinishFile(file);
  if (!written || !finished) error_ = Failed("cannot add " + member.name);
  return error_.empty();
}

std::string StormBuilder::Finish() {
  if (mpq_ != nullptr && !SFileCloseArchive(mpq_) && error_.empty()) {
    error_ = Failed("cannot close the archive");
  }
  mpq_ = nullptr;
  return error_;
}

std::string BuildStormArchive(const std::filesystem::path& path, const StormArchive& recipe) {
  StormBuilder builder(path, recipe);
  return builder.Finish();
}

}  // namespace veltrane::test_support
