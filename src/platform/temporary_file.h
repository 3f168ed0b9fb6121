// Temporary files beside a file that is replaced whole: the new text is
// written to a temporary, which is then renamed over the file. A writer
// killed half-way leaves its temporary behind; the next start sweeps those
// up, knowing them by their name.
#pragma once

#include <chrono>
#include <string>

// A new file beside `target`, named ".<leaf>.<number>.tmp" after the leaf of
// `target` and created with mode 0664 less the umask; its path in `name`.
// -1, with errno set, when none can be made.
int create_temporary(const std::string& target, std::string& name);

// Removes, beside `target`, the regular files named as create_temporary
// names them that were last written more than `age` ago: a writer still
// running would have written its file since. Nothing else is touched, not
// even a link or a folder of such a name. Returns how many went.
int remove_stale_temporaries(const std::string& target, std::chrono::seconds age);
