#include "job/refusals.h"

#include <array>
#include <optional>
#include <span>
#include <vector>

#include "common/text.h"
#include "job/paths.h"
#include "job/script_path.h"

namespace veltrane {
namespace {

// The longest full path the command interpreter's commands take (MAX_PATH less its NUL).
constexpr size_t kLongestPath = 259;

using Found = std::optional<Refusal>;

// Checks of the job as a whole, asked before any path is looked at.
using JobCheck = Found (*)(const JobPaths&, JobHost&);

Found JobRunning(const JobPaths&, JobHost& host) {
  if (!host.ScriptRunning()) return std::nullopt;
  return Refusal(JobStillRunning());
}

Found ScratchRefused(const JobPaths&, JobHost& host) {
  const std::wstring scratch(kScratchMap);
  auto checked = host.CheckCanCreate(scratch);
  if (checked && host.FileExists(scratch)) checked = host.CheckCanDelete(scratch);
  if (checked) return std::nullopt;
  const std::string message = checked.message() + " The job makes its copy there";
  // Only a denial is cured by running as administrator; any other reason stands alone.
  if (checked.error().system_code != kAccessDeniedCode) return Refusal(Fail(message + "."));
  return Refusal(message + ", and " + kOnlyAdministrators + " " + kCreateInDriveRoot + ". " +
                     kRunAsAdministrator + ".",
                 DeniedPlace::kScratchMap, scratch);
}

// The files the job writes beside the program: each is created or replaced.
Result<> CheckCanWrite(JobHost& host, const std::wstring& path) {
  if (auto checked = host.CheckCanCreate(path); !checked) return checked;
  if (host.FileExists(path)) return host.CheckCanDelete(path);
  return {};
}

Found ProgramFolderRefused(const JobPaths& paths, JobHost& host) {
  const std::wstring& folder = paths.program_folder;
  for (const auto name : {kPlaceholderName, kScriptName}) {
    auto checked = CheckCanWrite(host, JoinPath(folder, name));
    if (checked) continue;
    std::string message = checked.message() + " The job writes " + ToUtf8(kPlaceholderName) +
                          " and " + ToUtf8(kScriptName) + " beside the program, in " +
                          QuotedUtf8(folder) + ".";
    if (checked.error().system_code != kAccessDeniedCode) return Refusal(Fail(message));
    return Refusal(message + " " + kOnlyAdministrators + " write there. " + kRunAsAdministrator +
                       ", or move it to a folder of your own.",
                   DeniedPlace::kProgramFolder, folder);
  }
  return std::nullopt;
}

// A running job comes first: its script holds the scratch map, and the user is to wait
// rather than be told anything about that file.
constexpr JobCheck kJobChecks[] = {JobRunning, ScratchRefused, ProgramFolderRefused};

// One path of the job, as the rows below look at it. All but the text is found by Survey
// before any row is asked, so no row depends on another having run before it.
struct Subject {
  const char* name;
  const std::wstring& text;                      // as the box held it
  std::optional<std::string> unresolvable = {};  // why the script cannot take it as a path
  std::wstring full = {};                        // as the script takes it; empty when it can't,
                                                 // and for an archiver given by a bare name
  std::optional<FileIdentity> identity = {};     // the file there, if any
  std::wstring program = {};  // the archiver's file as the interpreter finds it, if any
};

struct OwnFile {
  std::wstring full;
  std::optional<FileIdentity> identity;
};

// Everything the per-path rows look at: the named paths, the host's answers, and the files
// the job itself writes or deletes.
struct Job {
  const JobPaths& paths;
  JobHost& host;
  Subject archiver{"archiver path", paths.archiver};
  Subject map{"map path", paths.map};
  Subject destination{"destination path", paths.destination};
  Subject folder{"program folder", paths.program_folder};
  std::vector<OwnFile> own_files = {};
};

// An empty path has nothing to quote.
Refusal Refuse(const Subject& subject, const std::string& reason) {
  const std::string quoted = subject.text.empty() ? "" : " " + QuotedUtf8(subject.text);
  return Fail(std::string("Cannot use the ") + subject.name + quoted + ": " + reason);
}

Found Empty(Job&, Subject& subject) {
  if (subject.text.find_first_not_of(L' ') != std::wstring::npos) return std::nullopt;
  return Refuse(subject, "it is empty.");
}

// A double quote, CR, LF or NUL would end the template's quotes or the script line, and
// whatever followed would run as a command of its own. No file name holds them.
Found BreaksOutOfQuotes(Job&, Subject& subject) {
  if (subject.text.find_first_of(std::wstring_view(L"\"\r\n\0", 4)) == std::wstring::npos) {
    return std::nullopt;
  }
  return Refuse(subject,
                "it contains a double quote, a line break or a NUL character, which no file name "
                "can hold.");
}

// The first character, a surrogate pair taken whole, that the script's code page lacks.
std::wstring FirstUnencodable(std::wstring_view text, JobHost& host) {
  for (size_t i = 0; i < text.size();) {
    const bool pair = i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF;
    const std::wstring_view one = text.substr(i, pair ? 2 : 1);
    if (!host.EncodeForScript(one)) return std::wstring(one);
    i += one.size();
  }
  return std::wstring(text);
}

Found OutsideCodePage(Job& job, Subject& subject) {
  if (job.host.EncodeForScript(subject.text)) return std::nullopt;
  return Refuse(subject,
                "the job's script can hold only the characters of the console's code page (" +
                    std::to_string(job.host.ScriptCodePage()) + " on this system), and " +
                    QuotedUtf8(FirstUnencodable(subject.text, job.host)) +
                    " is not one of them. Rename the file or folder, or choose another.");
}

// A bare program name is looked for along the search path, not taken as a path.
bool IsBareName(std::wstring_view path) {
  return path.find_first_of(L"\\/:") == std::wstring_view::npos;
}

Found Unresolvable(Job&, Subject& subject) {
  if (!subject.unresolvable) return std::nullopt;
  return Refuse(subject, *subject.unresolvable);
}

// The command interpreter expands * and ? in the script's copy and move into every file that
// matches: a copy joins them all into one file, so the job would protect none of them.
Found Wildcard(Job&, Subject& subject) {
  if (subject.text.find_first_of(L"*?") == std::wstring::npos) return std::nullopt;
  return Refuse(subject,
                "it contains * or ?, which the command interpreter reads as a pattern for many "
                "files, not as one file's name. Give the name of one file.");
}

Found TooLong(Job&, Subject& subject) {
  if (subject.full.size() <= kLongestPath) return std::nullopt;
  return Refuse(subject, "its full path has " + std::to_string(subject.full.size()) +
                             " characters, and the command interpreter takes at most " +
                             std::to_string(kLongestPath) + ". Choose a shorter path.");
}

// Two paths name one file: by identity when both files are there, else by their spelling.
bool SameFile(JobHost& host, const std::wstring& a, const std::optional<FileIdentity>& a_id,
              const std::wstring& b, const std::optional<FileIdentity>& b_id) {
  if (a_id && b_id) return a_id->SameFileAs(*b_id);
  return host.SamePath(a, b);
}

// The scratch map, and beside the program the placeholder and the script, each also as the
// side file it is first written to and then moved over it.
std::vector<OwnFile> OwnFiles(const JobPaths& paths, JobHost& host) {
  std::vector<std::wstring> names{std::wstring(kScratchMap)};
  for (const auto name : {kPlaceholderName, kScriptName}) {
    const std::wstring path = JoinPath(paths.program_folder, name);
    names.push_back(path);
    names.push_back(path + L".new");
  }
  std::vector<OwnFile> files;
  for (const auto& name : names) {
    const std::wstring full = host.FullPath(name);
    files.push_back({full, host.Identify(full)});
  }
  return files;
}

Found OwnFileOfTheJob(Job& job, Subject& subject) {
  for (const OwnFile& own : job.own_files) {
    if (!SameFile(job.host, subject.full, subject.identity, own.full, own.identity)) continue;
    return Refuse(subject, "it names " + QuotedUtf8(own.full) +
                               ", a file that the job itself writes or deletes. Choose another "
                               "file.");
  }
  return std::nullopt;
}

Found TheMapItself(Job& job, Subject& subject) {
  const Subject& map = job.map;
  if (!SameFile(job.host, subject.full, subject.identity, map.full, map.identity)) {
    return std::nullopt;
  }
  return Refuse(subject, "it names the same file as the map path " + QuotedUtf8(map.text) +
                             ". The job would replace the map with its protected copy; choose "
                             "another destination.");
}

Found AFolder(Job& job, Subject& subject) {
  if (!job.host.FolderExists(subject.full)) return std::nullopt;
  return Refuse(subject, "it is a folder. Name a file in it, such as " +
                             QuotedUtf8(JoinPath(subject.full, ProtectedCopyName(job.map.full))) +
                             ".");
}

Found NoFolder(Job& job, Subject& subject) {
  const std::wstring folder = FolderOf(subject.full);
  if (job.host.FolderExists(folder)) return std::nullopt;
  return Refuse(subject, "its folder " + QuotedUtf8(folder) + " does not exist.");
}

// The job copies the map with the command interpreter's copy, which takes a folder as all the
// files in it, and reports a missing map only once the script has run.
Found NoMapFile(Job& job, Subject& subject) {
  if (job.host.FolderExists(subject.full)) {
    return Refuse(subject, "it is a folder, not a map. Choose a map file in it.");
  }
  if (job.host.FileExists(subject.full)) return std::nullopt;
  return Refuse(subject, "there is no file there.");
}

// The parts of a ";" list of folders or extensions, quotes taken out.
std::vector<std::wstring> ListOf(const std::wstring& list) {
  std::vector<std::wstring> parts;
  for (const std::wstring_view part : SplitList(list)) {
    std::wstring unquoted(part);
    std::erase(unquoted, L'"');
    if (!unquoted.empty()) parts.push_back(std::move(unquoted));
  }
  return parts;
}

// A program as the command interpreter finds it: the name as given when it has an
// extension, else with each of PATHEXT's extensions. Nothing when there is none.
std::optional<std::wstring> ProgramAt(Job& job, const std::wstring& full) {
  if (NameOf(full).find(L'.') != std::wstring_view::npos && job.host.FileExists(full)) return full;
  std::wstring extensions = job.host.Environment(L"PATHEXT");
  if (extensions.empty()) extensions = L".COM;.EXE;.BAT;.CMD";
  for (const auto& extension : ListOf(extensions)) {
    if (job.host.FileExists(full + extension)) return full + extension;
  }
  return std::nullopt;
}

// The program a bare name runs: looked for in the program folder (the script's current
// folder), then along PATH.
std::optional<std::wstring> ProgramAlongPath(Job& job, const std::wstring& name) {
  std::vector<std::wstring> folders{job.paths.program_folder};
  for (auto& folder : ListOf(job.host.Environment(L"PATH"))) folders.push_back(std::move(folder));
  for (const auto& folder : folders) {
    if (auto found = ProgramAt(job, JoinPath(folder, name))) return found;
  }
  return std::nullopt;
}

// The archiver's program as the interpreter finds it; empty when there is none, or when the
// script cannot take the path.
std::wstring FindProgram(Job& job, const Subject& subject) {
  std::optional<std::wstring> found;
  if (IsBareName(subject.text)) {
    found = ProgramAlongPath(job, subject.text);
  } else if (!subject.full.empty()) {
    found = ProgramAt(job, subject.full);
  }
  return found ? std::move(*found) : std::wstring();
}

Found NoSuchProgram(Job&, Subject& subject) {
  if (!subject.program.empty() || subject.unresolvable) return std::nullopt;
  if (!IsBareName(subject.text)) return Refuse(subject, "there is no program file there.");
  return Refuse(subject,
                "there is no program of that name in the program folder or in a folder of "
                "PATH.");
}

// A batch file run from the job's script without "call" takes the script's place: the
// script never comes back to its move.
Found BatchArchiver(Job&, Subject& subject) {
  if (!HasExtension(subject.program, L".bat") && !HasExtension(subject.program, L".cmd")) {
    return std::nullopt;
  }
  return Refuse(subject, "it runs the batch file " + QuotedUtf8(subject.program) +
                             ". The job's script would not come back from it, so the protected "
                             "copy would stay in " +
                             ToUtf8(kScratchMap) +
                             " and never reach the destination. Choose the archiver's program "
                             "file (.exe) itself.");
}

// Which paths a row looks at, by name, in the order they are asked.
using Named = Subject Job::*;
constexpr Named kThePaths[] = {&Job::archiver, &Job::map, &Job::destination};
constexpr Named kPathsAndFolder[] = {&Job::archiver, &Job::map, &Job::destination, &Job::folder};
constexpr Named kMapAndDestination[] = {&Job::map, &Job::destination};
constexpr Named kArchiver[] = {&Job::archiver};
constexpr Named kMap[] = {&Job::map};
constexpr Named kDestination[] = {&Job::destination};

struct PathRow {
  std::span<const Named> subjects;
  Found (*check)(Job&, Subject&);
  bool of_the_full_path = false;  // looks at the full path, so not at a path that has none
};

// Every reason to refuse one of the paths, in the order they are asked: a row asks each of
// its paths before the next row is asked.
constexpr PathRow kPathRows[] = {
    {kThePaths, Empty},
    {kPathsAndFolder, BreaksOutOfQuotes},
    {kPathsAndFolder, OutsideCodePage},
    {kThePaths, Unresolvable},
    {kThePaths, Wildcard},
    {kThePaths, TooLong, true},
    {kMapAndDestination, OwnFileOfTheJob, true},
    {kDestination, TheMapItself, true},
    {kDestination, AFolder, true},
    {kDestination, NoFolder, true},
    {kArchiver, NoSuchProgram},
    {kArchiver, BatchArchiver},
    {kMap, NoMapFile, true},
};

// Each path as the script takes it and the file there (a bare archiver name is looked up
// instead), the archiver's program, and the job's own files: everything the rows read.
void Survey(Job& job) {
  for (Subject* subject : {&job.archiver, &job.map, &job.destination}) {
    if (subject == &job.archiver && IsBareName(subject->text)) continue;
    auto resolved = ResolveForScript(subject->text, job.paths.program_folder);
    if (!resolved) {
      subject->unresolvable = resolved.message();
      continue;
    }
    subject->full = job.host.FullPath(*resolved);
    subject->identity = job.host.Identify(subject->full);
  }
  job.archiver.program = FindProgram(job, job.archiver);
  job.own_files = OwnFiles(job.paths, job.host);
}

}  // namespace

Error JobStillRunning() {
  // Both scripts of two overlapping jobs would use the one scratch map.
  return Fail(
      "A job is still running. Wait for its report before starting another: both would use " +
      ToUtf8(kScratchMap) + ".");
}

Result<CheckedPaths, Refusal> CheckJob(const JobPaths& paths, JobHost& host) {
  for (const JobCheck check : kJobChecks) {
    if (auto found = check(paths, host)) return std::move(*found);
  }
  Job job{paths, host};
  Survey(job);
  for (const PathRow& row : kPathRows) {
    for (const Named named : row.subjects) {
      Subject& subject = job.*named;
      if (row.of_the_full_path && subject.full.empty()) continue;
      if (auto found = row.check(job, subject)) return std::move(*found);
    }
  }
  return CheckedPaths{job.map.full, job.destination.full};
}

}  // namespace veltrane
