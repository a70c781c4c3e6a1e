// The file lifecycle of one shapefile set: a lock against other tarvex
// processes writing the same set, temporary files in the set's directory,
// and the commit that renames them over the final names, or the clean-up
// that removes them.
//
// While a set is active, the file layer (shape/buffered_io.h) opens every
// file of the set's base name through it: the writer keeps using the final
// names, in its calls and in its messages, and the bytes go to the
// temporaries. Until commit() the previous set stays exactly as it was.
#ifndef TARVEX_SHAPE_OUTPUT_SET_H
#define TARVEX_SHAPE_OUTPUT_SET_H

#include <string>
#include <vector>

class tvOutputSet {
public:
    tvOutputSet() = default;
    // Abandons the set when it was begun and not committed.
    ~tvOutputSet();
    tvOutputSet(const tvOutputSet&) = delete;
    tvOutputSet& operator=(const tvOutputSet&) = delete;

    // Takes the lock of the set p_base (a path without extension) and
    // removes temporaries of this set that earlier runs left behind. False,
    // with one LOG_ERROR line, when another process holds the set or its
    // directory cannot be used.
    bool begin(const std::string& p_base);

    // Whether p_path is a file of this set (its base name with one of the
    // set's extensions, in any letter case).
    bool owns(const std::string& p_path) const;

    // Opens the temporary file standing for p_path with the open(2) access
    // flags p_flags: a writing open creates it exclusively (O_EXCL,
    // O_NOFOLLOW, mode 0666 less the umask) the first time and truncates it
    // later, other opens reach the temporary created before. The file
    // descriptor, or -1 with errno set.
    int open(const std::string& p_path, int p_flags);

    // Removes the temporary of p_path, so that the file is not part of the
    // set; 0, or -1 with errno set.
    int remove(const std::string& p_path);

    // Makes the open file p_fd (a file without a name, or with one, on the
    // set's file system) the temporary standing for p_path, as a new name
    // of it; 0, or -1 with errno set (the file is then not part of the set).
    int adopt(const std::string& p_path, int p_fd);

    // Renames every temporary over its final name (a link at a final name is
    // replaced, never followed) and removes the companion files of the base
    // name that this run did not write (moved aside before the first rename,
    // so that one that cannot be removed leaves the previous set whole),
    // signals held off meanwhile; then releases the lock. False, with one LOG_ERROR line, when the set could
    // not be put in place; the files already renamed are then put back as
    // they were (each replaced file is kept under a second name until the
    // last rename).
    bool commit();

    // Removes the temporaries and releases the lock; the previous set stays.
    void abandon();

    // Takes over the temporaries of p_from, whose base is a name this run
    // no longer writes: the files written so far are put in place under
    // this set's names. p_from keeps its lock, and its commit removes the
    // previous set of its name.
    void adopt(tvOutputSet& p_from);

    const std::string& base() const { return _base; }

private:
    // "." + the set's name (shortened where it is too long) + p_suffix, in
    // the set's directory: the names of the lock and the temporaries.
    std::string hiddenPath(const std::string& p_suffix) const;
    struct TempFile {
        std::string ext;   // ".shp", ... in lower case
        std::string path;  // the temporary's path
        int slot;          // its place in the signal-time registry
    };

    std::string _base;
    std::string _dir;   // the directory, "." when the base has none
    std::string _name;  // the base's last component
    std::string _stem;  // of the hidden names: the name, or a shorter form of it
    std::string _lockPath;
    std::string _token;  // process id and random letters in the temporaries' names
    int _lockFd = -1;
    int _lockSlot = -1;
    std::vector<TempFile> _temps;
    bool _part = false;  // the files go to a part capture (tvSetPartCapture)

    // The commit in phases, so that several sets commit as one
    // (tvCommitOutputSets): the data on disk; the checks, the second names
    // of the files replaced and the stale companions moved aside; the
    // renames; then either the way back or the clean-up.
    struct Replaced {
        std::string target;
        std::string kept;  // the second name, empty when there is none
        bool existed = false;
    };
    struct Aside {
        std::string path;
        std::string kept;
    };
    std::vector<const TempFile*> _order;
    std::vector<Replaced> _replaced;
    std::vector<Aside> _asides;
    size_t _renamed = 0;
    bool syncTemporaries();
    bool prepareCommit();
    bool renameTemporaries();
    void rollBack();
    void dropKept();
    void finishCommit();
    friend bool tvCommitOutputSets(const std::vector<tvOutputSet*>& p_sets);

    bool beginPart(const std::string& p_base);
    TempFile* findTemp(const std::string& p_ext);
    // The names of the companion files of the base name that this run did
    // not write (in the set's directory).
    std::vector<std::string> staleCompanions() const;
    void removeStaleTemporaries();
    void release();
};

// Commits the sets as one: every set is put in place, or, when one cannot
// be, every one is left as it was (one LOG_ERROR line). The locks are then
// released and the temporaries removed.
bool tvCommitOutputSets(const std::vector<tvOutputSet*>& p_sets);

// The sets the file layer routes their files through in this thread: the
// one that owns a path gets its file.
tvOutputSet* tvOutputSetFor(const std::string& p_path);

// One part of a table exported over several connections, written by a
// worker process into files the parent opened and unlinked before the
// worker started: they have no name, so nothing of them can be left behind,
// whichever way either process ends. While a capture is in place, the first
// set begun with the capture's base name writes into them (no lock: the
// parent holds the set's lock; commit() only keeps them); any other set, or
// a second one, is refused and noted, and so is a file of another
// extension: the parent then does not merge the parts.
enum { TV_PART_SHP, TV_PART_SHX, TV_PART_DBF, TV_PART_PRJ, TV_PART_CPG, TV_PART_FILES };
struct tvPartCapture {
    std::string base;
    int files[TV_PART_FILES] = {-1, -1, -1, -1, -1};
    int notes = -1;  // one byte per note: TV_NOTE_*
};
const char TV_NOTE_OTHER_SET = 'S';       // another set or file was refused
const char TV_NOTE_RECORD_NUMBERS = 'F';  // the .dbf holds the FID field of record numbers
// In a worker: the capture for its part (null: none).
void tvSetPartCapture(const tvPartCapture* p_capture);
// Adds p_note to the capture's notes; nothing without a capture.
void tvNotePart(char p_note);
// The extension of part file p_index (".shp", ...).
const char* tvPartExtension(int p_index);

// The first active set, or null.
tvOutputSet* tvActiveOutputSet();
// Makes p_set the only active set (none, with null).
void tvSetActiveOutputSet(tvOutputSet* p_set);
// Adds p_set to the active sets, or removes it.
void tvAddActiveOutputSet(tvOutputSet* p_set);
void tvRemoveActiveOutputSet(tvOutputSet* p_set);

// For a signal handler: removes every temporary file and lock file of the
// sets in progress. Only async-signal-safe calls.
void tvRemoveOutputTemporariesNow();
// In a new worker process: the files registered so far are its parent's
// (the lock of a set the parent writes), which a signal that stops only the
// worker must not remove. Forgets them without touching them.
void tvForgetOutputTemporaries();

// The extensions of a shapefile set's companion files that a replaced set
// must not keep: those the writer may write and the spatial indexes.
bool tvIsSetCompanionExtension(const std::string& p_ext);

// The call that gives a temporary its final name during commit() (rename(2)
// unless replaced; nullptr restores it): tests make it fail.
using tvRenameFunction = int (*)(const char*, const char*);
void tvSetOutputRename(tvRenameFunction p_rename);

#endif
