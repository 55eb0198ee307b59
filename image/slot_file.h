// Image slot files (/user/images/image1 and image2) as the installer and the recovery-image
// install write them: the new image goes to a temporary file beside the slot file
// (imageN.new), is flushed to storage and only then renamed over the slot file, so a slot
// file is always the old image or the new one, never a mix. Every file operation goes
// through the platform seam. Used by the package installer, the rescue-partition boot,
// start-up (which removes what a power cut left) and the trial record.
#pragma once

#include <cstddef>
#include <cstdint>

// One slot file being written. Obtained from slot_file_begin; ended by slot_file_commit
// or slot_file_abort (the destructor aborts one that was neither).
struct SlotFileWriter {
    int slot = 0;
    int fd = -1;
    char path[32] = {};
    char temp_path[40] = {};
    SlotFileWriter() = default;
    SlotFileWriter(const SlotFileWriter &) = delete;
    SlotFileWriter &operator=(const SlotFileWriter &) = delete;
    ~SlotFileWriter();
};

// Creates /user/images if needed and opens the temporary file of slot 1 or 2, empty.
// 0 on success, else an errno value (nothing is left behind).
int slot_file_begin(SlotFileWriter &writer, int slot);
// Appends bytes to the temporary file. 0 or an errno value (ENOSPC for a write that took
// nothing); on failure the caller aborts.
int slot_file_append(SlotFileWriter &writer, const uint8_t *data, size_t length);
// Syncs and closes the temporary file and renames it over the slot file. 0 or an errno
// value; on failure the temporary file is removed and the old slot file stays.
int slot_file_commit(SlotFileWriter &writer);
// Closes and removes the temporary file; the slot file is untouched.
void slot_file_abort(SlotFileWriter &writer);

// Writes a whole image as the slot file in one go (begin, append, commit). 0 or an errno.
int slot_file_write(int slot, const uint8_t *data, size_t length);

// Any other file of /user/images written the same way (PATH.new, sync, rename): the trial
// record. PATH is at most 31 characters. 0 or an errno value; the old file stays on failure.
int images_file_replace(const char *path, const uint8_t *data, size_t length);

// Removes the temporary slot files that a power cut during a slot write left behind,
// printing one line for each. The slot files themselves were never touched by such a write.
void slot_file_remove_leftovers();
