// Rescue menu and filesystem erase, the operator's way out when nothing can be booted or
// when the boot options ask for it. Relies on the console input and the rescue-partition
// boot. Called by the start-up sequence, the final branches of the image boot and the
// launch's recovery question. The operator dialogues are not built yet: these entry
// points say so and take the way that lets the boot go on.
#pragma once

// Runs the menu; returns 1 when the operator chooses Exit (the stand-in always does).
int rescue_menu();

// Offers to erase the user filesystem, then boots the rescue partition's image. Returns 1
// only when that boot returned.
int erase_user_filesystem();
