// The machines being compared and the histories shown, as read from the
// paths on the command line: a file is one machine with one run, a
// directory one machine with a run per *.txt file in it and an optional
// machine.json describing it.
//
// A directory may also be a machine's history, as the lab playbook keeps it:
// a session folder per lab run, named by the run's start in UTC so that the
// names sort in time order (results/<host>/2026-12-08T14.05Z/run-1.txt), each
// with its runs and its own machine.json. A sub-directory that holds *.txt
// files is a session; the others are ignored.
//
// Only regular files (or links to them) are read from a folder: a FIFO, a
// device, a socket or a dangling link named like a transcript,
// machine.json or session.json is skipped and named (Machine::notes,
// History::errors). A path given by itself may be anything that can be
// read, such as a pipe. A transcript larger than kMaxTranscriptBytes, or a
// machine.json or session.json larger than kMaxInfoBytes, is refused with
// an error. What was left out, and why, is told in typed values.
#pragma once

#include "files.h"
#include "machine_info.h"
#include "session_record.h"
#include "transcript.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cpubench {

// The largest transcript and machine.json read; a larger file is refused.
// A transcript is under 1 KiB, a console's copy of many runs some KiB, a
// machine.json 2 KiB: the limits only stop a file that is no such thing
// (or /dev/zero) from filling the memory.
inline constexpr std::size_t kMaxTranscriptBytes = std::size_t{4} << 20;
inline constexpr std::size_t kMaxInfoBytes = std::size_t{1} << 20;
// A machine's history given for a comparison: its newest session is
// compared, and the sessions before it, up to this many, are read too, for
// the machine's wander between sittings (the newest sittings tell it best;
// a lab's years of sessions need not all be read).
inline constexpr std::size_t kEarlierSessions = 29;

// Something the reader could not use, or left out.
struct ReadIssue {
    enum class Kind {
        file,             // `file` could not be read
        notTranscript,    // `path` holds no cpubench output
        noTranscript,     // the folder `path` holds no transcript, nor do its session folders
        notDirectory,     // `path` is no folder; `system` may say why
        cannotList,       // the folder `path` cannot be read: `system`
        badFormat,        // the machine.json or session.json `path` is unusable: `format`
        notSession,       // the folder `path` holds `count` transcripts but is named as no session is
        looseTranscripts, // `count` transcripts directly in the folder of machine `path`, beside its
                          // sessions; its newest, `session`, is compared
    };
    ReadIssue(Kind what = Kind::file, std::string where = "") : kind(what), path(std::move(where)) {}

    Kind kind;
    std::string path;
    FileError file{};
    FormatError format{};
    std::string system;
    std::size_t count = 0;
    std::string session;
};

struct Run {
    std::string name; // as named in messages: the file, or machine/file
    Transcript transcript;
    // What the recorder saw while each line ran (session.json), when a
    // recorder wrote the run.
    std::array<std::optional<LineFigures>, kLineCount> figures{};
};

struct Machine {
    std::string name;
    std::string source; // the path as given
    std::vector<Run> runs;
    MachineInfo info;
    std::optional<ReadIssue> infoError; // why machine.json could not be used
    // readMachine of a history: the session folder read (its newest), which
    // the comparison names in a note; empty otherwise, also in a Session.
    std::string newestSession;
    // What reading left out that changes no exit status: sessions of no
    // session's name, transcripts of an earlier layout, entries that are no
    // regular file.
    std::vector<ReadIssue> notes;
    // session.json: why it could not be used; else how the recording ended
    // (complete without one), its reason, and the processors online (0:
    // not known).
    std::optional<ReadIssue> recordError;
    SessionState recording = SessionState::complete;
    std::string stopReason;
    int cpus = 0;
    // readMachine of a history: the sessions before the newest (at most
    // kEarlierSessions, oldest first), each read as a machine of its own,
    // for the machine's wander between sittings; what could not be read
    // of them is a note of the machine.
    std::vector<Machine> earlier;
};

// The outcome of reading one path: a machine, or the errors that make it
// unusable (each naming the file), which end the program with status 2.
struct MachineRead {
    Machine machine;
    std::vector<ReadIssue> errors;
};

// A file is a machine of one run named by the path as given ('-' is
// standard input). A directory is a machine named by the directory: when it
// holds session folders, its newest session (the last in natural name
// order) is read, with Machine::newestSession set; else its own *.txt files
// are the runs. Transcripts directly in a folder that also holds sessions
// come from an earlier layout of the lab: they are left out, with a note. A
// session folder given by itself is named "<host folder>/<session>".
MachineRead readMachine(const FileTree& files, const std::string& path);

// One session of a history: its runs (named "<history>/<session>/<file>")
// and its machine.json, read as a directory machine is; machine.name is the
// history's name, machine.source the session folder.
struct Session {
    std::string name; // the session folder's name
    Machine machine;
};

// One machine's history, sessions in time order (natural name order).
// A folder without sessions is a history of one session named after the
// folder. In a folder with both, its own transcripts come from an earlier
// layout of the lab, before any session: they are the first session, named
// after the folder.
struct History {
    std::string name;   // the folder's own name
    std::string source; // the path as given
    std::vector<Session> sessions;
    // Files and folders that could not be read, or are no transcript; a
    // session keeps the runs that could be read, and a session left with
    // none is dropped. No session at all is an error too. An unusable
    // machine.json is its session's machine.infoError instead.
    std::vector<ReadIssue> errors;
    // What changes no exit status: folders left out as no session.
    std::vector<ReadIssue> notes;
};

History readHistory(const FileTree& files, const std::string& path);

} // namespace cpubench
