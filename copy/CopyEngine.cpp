#include "copy/CopyEngine.h"

#include <optional>
#include <thread>

#include "copy/ParallelCopier.h"

#include "common/AppError.h"
#include "fs/FileSystem.h"

namespace copy {
namespace {

std::optional<uint64_t> WriteTimeOf(const std::wstring& path) { return fs::LastWriteTime(fs::OpenForTimes(path)); }

struct WalkState {
  fs::WalkPath path;
  std::optional<fs::FolderId> output;  // the copy's own top destination folder
  size_t depth = 0;
};

bool CopyTree(const std::wstring& sourceFolder, bool viaLink, const std::wstring& destFolder,
              const CopyContext& context, const std::wstring& excluded, WalkState& walk) {
  fs::CurrentFolderKept restore;
  fs::ChangeFolder(sourceFolder);  // the I/O error of a folder that cannot be entered
  std::wstring base = WithBackslash(sourceFolder);
  std::vector<fs::Entry> entries = fs::ListEntries(base + L"*.*", fs::kMaskAll);
  if (entries.empty()) return false;

  if (viaLink && walk.output) {
    auto id = fs::IdentifyFolder(base);
    if (id && *id == *walk.output) return true;  // a link into our own output
  }
  if (!walk.path.Enter(base, viaLink)) return true;  // a link back up the path
  ++walk.depth;
  struct Pop {
    WalkState& w;
    ~Pop() {
      w.path.Leave();
      --w.depth;
    }
  } pop{walk};

  if (walk.depth == 1) fs::MakeFolderPath(destFolder);  // the caller made the inner ones
  if (walk.depth == 1 && !excluded.empty()) walk.output = fs::IdentifyFolder(destFolder);

  const std::wstring targetFolder = destFolder + L"\\";
  for (const fs::Entry& entry : entries) {
    if (entry.name == L"." || entry.name == L"..") continue;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      std::wstring subSource = base + entry.name;
      if (!excluded.empty() && SamePath(subSource, excluded)) continue;
      std::wstring subDest = destFolder + L"\\" + entry.name;
      fs::MakeFolderPath(subDest);  // looks before it makes
      CopyTree(subSource, fs::WalkPath::IsLink(entry.attributes), subDest, context, excluded, walk);
    } else if (context.parallel && (context.mode == Overwrite || context.mode == Skip || context.mode == NewerOnly)) {
      CopyContext quiet;  // a worker neither asks nor pumps
      quiet.mode = context.mode;
      context.parallel->Submit(
          [source = base + entry.name, targetFolder, name = entry.name, quiet, attributes = entry.attributes] {
            CopyOneFile(source, targetFolder, name, quiet, attributes);
          });
      if (context.keepAlive) context.keepAlive();
    } else {
      CopyOneFile(base + entry.name, targetFolder, entry.name, context, entry.attributes);
    }
  }
  return true;
}

void Empty(const std::wstring& folder, const EmptyRules& rules) {
  const std::wstring base = WithBackslash(folder);
  for (const fs::Entry& entry : fs::ListEntries(base + L"*.*", fs::kMaskAll)) {
    const std::wstring full = base + entry.name;
    switch (EmptyingActionFor(entry.name, entry.attributes)) {
      case EmptyingAction::Skip:
      case EmptyingAction::KeepLink:
        break;
      case EmptyingAction::Descend:
        if (!rules.spared.Contains(full)) Empty(full, rules);
        break;
      case EmptyingAction::Remove:
        if (rules.spared.Contains(full)) break;  // a source of the running copy
        if (entry.attributes & FILE_ATTRIBUTE_READONLY)
          fs::SetAttributes(full, entry.attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        fs::RemoveFile(full);
        if (rules.keepAlive) rules.keepAlive();
        break;
    }
  }
  if (!rules.listedDests.Contains(base)) fs::RemoveEmptyFolder(base);
}

}  // namespace

EmptyingAction EmptyingActionFor(const std::wstring& name, DWORD attributes) {
  std::wstring trimmed = fs::TrimBlank(name);
  if (trimmed == L"." || trimmed == L"..") return EmptyingAction::Skip;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return EmptyingAction::Remove;  // whatever its other bits
  // A link stays, and nothing it points to is touched.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EmptyingAction::KeepLink;
  return EmptyingAction::Descend;
}

std::wstring OverwriteQuestion(const std::wstring& target) { return L"文件" + target + L"已存在，是否覆盖？"; }

std::wstring FreeNumberedName(const std::wstring& targetFolder, const std::wstring& name) {
  const std::wstring extension = fs::ExtensionPart(name);
  const std::wstring stem = name.substr(0, name.size() - extension.size());
  std::wstring candidate = name;
  for (unsigned long long counter = 1; fs::IsFile(targetFolder + candidate); ++counter)
    candidate = stem + L"_" + std::to_wstring(counter) + extension;
  return candidate;
}

void CopyOneFile(const std::wstring& source, const std::wstring& targetFolder, const std::wstring& name,
                 const CopyContext& context, DWORD sourceAttributes) {
  const std::wstring target = targetFolder + name;
  switch (context.mode) {
    case Overwrite:
      fs::CopyOneFileRaw(source, target, false, sourceAttributes);
      break;
    case Skip:
      fs::CopyOneFileRaw(source, target, true, sourceAttributes);
      break;
    case Ask: {
      bool replace = !fs::IsFile(target) || context.askOverwrite(target);
      fs::CopyOneFileRaw(source, target, !replace, sourceAttributes);
      break;
    }
    case AutoNumber:
      fs::CopyOneFileRaw(source, targetFolder + FreeNumberedName(targetFolder, name), false, sourceAttributes);
      break;
    case NewerOnly: {
      auto sourceTime = WriteTimeOf(source), targetTime = WriteTimeOf(target);
      bool keep;
      if (!targetTime)
        keep = fs::Exists(target);  // an unreadable existing target stays
      else if (!sourceTime)
        keep = true;
      else
        keep = fs::CompareTimes(*sourceTime, *targetTime) < 0;
      fs::CopyOneFileRaw(source, target, keep, sourceAttributes);
      break;
    }
  }
  if (context.keepAlive) context.keepAlive();
}

bool CopyFolderTree(const std::wstring& sourceFolder, const std::wstring& destFolder, const CopyContext& context,
                    const std::wstring& excluded) {
  WalkState walk;
  return CopyTree(sourceFolder, false, destFolder, context, excluded, walk);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return SameTextIgnoreCase(WithoutTrailingBackslashes(a), WithoutTrailingBackslashes(b));
}

EmptyRules MakeEmptyRules(const std::vector<std::wstring>& dests, const std::vector<std::wstring>& spared) {
  EmptyRules rules;
  for (const auto& d : dests) rules.listedDests.Add(WithBackslash(d));
  for (const auto& s : spared) rules.spared.Add(WithoutTrailingBackslashes(s));
  return rules;
}

void EmptyFolder(const std::wstring& folder, const EmptyRules& rules) { Empty(folder, rules); }

int ProgressPosition(int sourceCount, int destCount, int j, int i) {
  uint64_t total = uint64_t(destCount) * uint64_t(sourceCount);
  if (total == 0) return 0;
  uint64_t done = uint64_t(sourceCount) * uint64_t(j) + uint64_t(i) + 1;
  uint64_t position = done * 100 / total;
  return int(position > 100 ? 100 : position);
}

void RunCopy(CopyRunHost& host) {
  int workers = int(std::thread::hardware_concurrency()) + 1;
  ParallelCopier parallel(workers < 2 ? 2 : (workers > 4 ? 4 : workers));
  auto keepAlive = [&] { host.KeepAlive(); };
  const int destCount = host.DestCount();
  for (int j = 0; j < destCount; ++j) {
    const std::wstring destEntry = host.DestAt(j);
    if (host.EmptyFirst()) {
      std::vector<std::wstring> dests, sources;
      for (int k = 0, n = host.DestCount(); k < n; ++k) dests.push_back(host.DestAt(k));
      for (int k = 0, n = host.SourceCount(); k < n; ++k) sources.push_back(host.SourceAt(k));
      EmptyRules rules = MakeEmptyRules(dests, sources);
      rules.keepAlive = [&] { host.KeepAlive(); };
      EmptyFolder(destEntry, rules);
    }
    const int sourceCount = host.SourceCount();
    for (int i = 0; i < sourceCount; ++i) {
      const std::wstring src = host.SourceAt(i);
      const std::wstring dest = WithBackslash(host.DestAt(j));
      CopyContext context;
      context.mode = host.Mode();
      context.askOverwrite = [&](const std::wstring& target) { return host.AskOverwrite(target); };
      context.keepAlive = keepAlive;
      context.parallel = &parallel;
      if (fs::IsFolder(src)) {
        const std::wstring t = WithoutTrailingBackslashes(src);
        const std::wstring folderName = t.substr(fs::LastSeparator(L"\\", t));
        const std::wstring target = dest + folderName;
        // A folder is never copied onto itself nor into its own output.
        try {
          if (!SamePath(target, src)) CopyFolderTree(src, target, context, target);
        } catch (...) {
          parallel.Drain(keepAlive);  // the copies before the error stand
          throw;
        }
        parallel.Drain(keepAlive);
      } else {
        CopyOneFile(src, dest, fs::NamePart(src), context);
      }
      host.SetProgress(ProgressPosition(host.SourceCount(), host.DestCount(), j, i));
    }
  }
}

}  // namespace copy
