#include "platform/held_files.h"

#include "platform/parallel_work.h"
#include "platform/path_forms.h"
#include "platform/system_error_text.h"

#include <optional>
#include <utility>

namespace uninst::win32 {

namespace {

DeleteCheck cannotDelete(Deletable answer, const std::string& path, DWORD code) {
    return DeleteCheck{answer, failureText("delete file", path, code)};
}

// What the system answers when asked to delete the file a handle holds, the
// request taken back at once. A file another process has mapped (a loaded
// DLL, a running program, a mapped view of data) opens for deletion without
// trouble, and only the request is refused: Windows documents
// STATUS_CANNOT_DELETE for a read-only file or one with a mapped view, and
// Wine 8 refuses it while any mapping of the file exists (measured, image
// and data alike). The POSIX deletion of newer Windows may pass over the
// image check unless told to force it; nothing here asks for it. Nobody
// else can mark or unmark the file meanwhile: the handle shares reading
// only, so no other handle with delete access can be open beside it, and
// clearing a mark this handle set is refused only to a handle opened to
// delete on close, which this is not.
DWORD refusesDeletion(HANDLE handle) {
    if (!markForDeletion(handle))
        return GetLastError();
    FILE_DISPOSITION_INFO keep{};
    keep.DeleteFile = FALSE;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (SetFileInformationByHandle(handle, FileDispositionInfo, &keep, sizeof keep))
            return ERROR_SUCCESS;
    }
    return GetLastError();
}

// What checkDelete answers for a file opened as deleteFile opens it. The
// handle stays open when the answer is yes, and only then.
DeleteCheck checkOpened(const std::string& path, const std::wstring& api, Opened& opened) {
    // deleteFile leaves a link, or what lies behind one, alone.
    if (opened.missing || opened.link)
        return {Deletable::missing, {}};
    if (!opened.handle) {
        const DWORD code = opened.error;
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            return cannotDelete(Deletable::inUse, path, code);
        return cannotDelete(Deletable::refused, path, code);
    }
    // The open succeeds on a read-only file, whose deletion the system still
    // refuses; a folder is never a file to delete here. Asked by path, which
    // under Wine needs no round trip to the server as a handle query does;
    // the deletion goes through the handle, whatever the path shows.
    const DWORD attributes = GetFileAttributesW(api.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        opened.handle.reset();
        return cannotDelete(Deletable::refused, path, code);
    }
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        opened.handle.reset();
        return cannotDelete(Deletable::refused, path, ERROR_ACCESS_DENIED);
    }
    return {};
}

// The pre-flight's question for one file: opened as its deletion opens it,
// name compared, asked to be marked for deletion and unmarked. One to be
// held keeps its handle in `opened` when it can go; any other is closed
// again, and its deletion opens and compares it once more.
//
// Without `mark`, for runs that must change nothing: a process ended between
// the mark and its taking back (a deployment tool's time-out) would take the
// file with it. The file is opened for writing as well instead, which the
// system refuses while a program runs from it or has it loaded (Windows and
// Wine alike); a file another program maps as data goes unseen, and the
// real run's pre-flight still finds it.
DeleteCheck checkFile(const Anchor* anchor, DWORD rootError, const std::wstring& api,
                      const std::string& path, bool hold, bool mark, NameScratch& scratch,
                      Opened& opened) {
    opened = openBelow(anchor, rootError, api, false, FILE_SHARE_READ,
                       mark ? FILE_READ_ATTRIBUTES : FILE_READ_ATTRIBUTES | FILE_WRITE_DATA,
                       scratch, hold);
    DeleteCheck check = checkOpened(path, api, opened);
    if (check.answer == Deletable::yes) {
        // Nothing is ever marked through a handle that may hold another
        // item: under Wine a host link opens as its target, someone else's.
        // Without a mark nothing goes through the handle, and a link that
        // passed would be passed over by the deletion as it is by a held
        // file's: the name, a round trip to the server, is not asked.
        DWORD code = ERROR_SUCCESS;
        if (mark && !hold &&
            !namesItself(*anchor, api, opened.handle.get(), false, scratch, code)) {
            opened.handle.reset();
            return code == ERROR_SUCCESS ? DeleteCheck{Deletable::missing, {}}
                                         : cannotDelete(Deletable::refused, path, code);
        }
        if (const DWORD refusal = mark ? refusesDeletion(opened.handle.get()) : ERROR_SUCCESS;
            refusal != ERROR_SUCCESS) {
            opened.handle.reset();
            // The attributes allowed it, so what refuses is a mapping.
            check =
                cannotDelete(refusal == ERROR_ACCESS_DENIED ? Deletable::inUse : Deletable::refused,
                             path, refusal);
        }
    }
    if (!hold)
        opened.handle.reset();
    // Unnamed, a link to someone else's read-only file would read as a file
    // that refuses, and stop the run over what it never deletes.
    if (!hold && check.answer == Deletable::refused && anchor != nullptr &&
        leadsElsewhere(*anchor, api, scratch))
        return {Deletable::missing, {}};
    return check;
}

} // namespace

// The check is the deletion's own open: the handle is kept, so the deletion
// costs no second open (a round trip to the server under Wine each), and
// nobody can take the file between the check and the deletion. Sharing
// reading only lets the run read its install log meanwhile; whoever opens a
// held file must leave it to be deleted. Past the limit a file is checked and
// closed again: its deletion opens it once more, and a program that takes it
// in between makes that deletion fail, which still stops the run before any
// count is lowered.
std::vector<DeleteCheck> HeldFiles::checkDeletes(RemovalRoots& roots,
                                                 const std::vector<std::string>& paths) {
    struct Job {
        std::wstring api;
        const Anchor* anchor = nullptr;
        DWORD rootError = ERROR_SUCCESS;
        // The earlier job for the same path: opened once, since a second
        // open would meet the first one's handle and read as in use.
        std::size_t sameAs = 0;
        bool repeated = false;
        FileHandle kept;
        bool checked = false;
        // Refused a handle to hold because the system had none left.
        bool exhausted = false;
    };
    std::vector<Job> jobs(paths.size());
    std::unordered_map<std::wstring, std::size_t> seen;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Job& job = jobs[i];
        if (paths[i].empty())
            continue;
        job.api = apiPath(paths[i]);
        held_.erase(job.api);
        if (const auto [first, inserted] = seen.emplace(job.api, i); !inserted) {
            job.sameAs = first->second;
            job.repeated = true;
            continue;
        }
        job.anchor = roots.settledAnchor(job.api, job.rootError);
    }
    const std::size_t room = limit_ > held_.size() ? limit_ - held_.size() : 0;

    std::vector<DeleteCheck> checks(paths.size());
    const auto check = [&](std::size_t i, bool hold) {
        Job& job = jobs[i];
        job.checked = true;
        if (paths[i].empty()) {
            checks[i] = cannotDelete(Deletable::refused, paths[i], ERROR_PATH_NOT_FOUND);
        } else if (!job.repeated) {
            NameScratch scratch;
            Opened opened;
            checks[i] = checkFile(job.anchor, job.rootError, job.api, paths[i], hold, marks_,
                                  scratch, opened);
            job.kept = std::move(opened.handle);
            job.exhausted = hold && opened.error == ERROR_TOO_MANY_OPEN_FILES;
        }
        return !job.exhausted;
    };
    // The first files checked are the ones held. The first refusal for want
    // of handles stops the pass at once, so that the system stays out of
    // handles only for as long as the few opens under way take; everything
    // held is then given back in one go and the rest is checked without
    // holding.
    forEachInParallel(jobs.size(), [&](std::size_t i) { return check(i, i < room); });
    std::vector<std::size_t> rest;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].exhausted || !jobs[i].checked)
            rest.push_back(i);
    }
    if (!rest.empty()) {
        stopHolding();
        forEachInParallel(jobs.size(), [&](std::size_t i) {
            jobs[i].kept.reset();
            return true;
        });
        forEachInParallel(rest.size(), [&](std::size_t k) { return check(rest[k], false); });
    }

    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (jobs[i].repeated)
            checks[i] = checks[jobs[i].sameAs];
        else if (jobs[i].kept)
            held_.insert_or_assign(std::move(jobs[i].api), std::move(jobs[i].kept));
    }
    return checks;
}

// Under Wine every held file is a descriptor of the one server all programs
// share. Should the system allow fewer than the limit, the run gives back
// every one it holds at the first refusal rather than starve other programs,
// and checks without holding from then on.
void HeldFiles::stopHolding() {
    held_.clear();
    limit_ = 0;
}

FileRemovals HeldFiles::deleteFiles(RemovalRoots& roots, const std::vector<std::string>& paths) {
    struct Job {
        std::wstring api;
        FileHandle held;
        const Anchor* anchor = nullptr;
        DWORD rootError = ERROR_SUCCESS;
        DWORD error = ERROR_SUCCESS;
        std::optional<Removal> removal;
    };
    // Everything that is not safe on several threads is settled here first.
    std::vector<Job> jobs(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Job& job = jobs[i];
        if (paths[i].empty()) {
            job.error = ERROR_PATH_NOT_FOUND;
            continue;
        }
        job.api = apiPath(paths[i]);
        if (const auto held = held_.find(job.api); held != held_.end()) {
            job.held = std::move(held->second);
            held_.erase(held);
        } else {
            job.anchor = roots.settledAnchor(job.api, job.rootError);
        }
    }

    forEachInParallel(jobs.size(), [&](std::size_t i) {
        Job& job = jobs[i];
        if (job.error != ERROR_SUCCESS)
            return false;
        if (job.held) {
            if (!markForDeletion(job.held.get())) {
                job.error = GetLastError();
                return false;
            }
            job.held.reset();
            job.removal = Removal::removed;
            return true;
        }
        NameScratch scratch;
        Removal removal = Removal::notFound;
        job.error = deleteOpened(
            openBelow(job.anchor, job.rootError, job.api, false, shareAll, 0, scratch), removal);
        if (job.error == ERROR_SUCCESS)
            job.removal = removal;
        return job.error == ERROR_SUCCESS;
    });

    FileRemovals result;
    result.removals.resize(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        result.removals[i] = jobs[i].removal;
        if (jobs[i].error != ERROR_SUCCESS && !result.failure)
            result.failure = failureText("delete file", paths[i], jobs[i].error);
    }
    return result;
}

} // namespace uninst::win32
