#pragma once

// What the archive core asks of the program that runs it. The installer answers with
// message boxes, globx answers without asking, the tests script the answers and record
// the order in which they were asked.
class Host {
public:
    virtual ~Host() = default;

    // A short warning sound before a disk prompt.
    virtual void Beep() = 0;

    // "Please insert disk number <diskNumber>" with OK and Cancel; true for OK.
    // volumeName is the file that could not be opened.
    virtual bool AskForDisk(int diskNumber, const char* volumeName) = 0;

    // The read-error box; returns when it has been dismissed.
    virtual void ShowReadError() = 0;

    // The shared quit question; true for Yes.
    virtual bool ConfirmQuit() = 0;

    // Sets the install's cancel request (a confirmed cancel at a disk prompt, or a read error).
    virtual void RequestCancel() = 0;

    // Called between chunks of work and around every prompt. May block while the host holds the
    // worker paused; returns true once the work must stop. Reading then ends as at the end of data.
    virtual bool ShouldStop() { return false; }

    // Creates one directory; true when it was created. Tests override it to script results.
    virtual bool MakeDirectory(const char* path);
};
