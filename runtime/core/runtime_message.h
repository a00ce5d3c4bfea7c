// The runtime's message routine: how the runtime shows a message to the user
// when no procedure is there to do it (declaration problems of a file,
// driver-string warnings, missing dynamic-file support).
//
// A program installs a hook that shows (caption, text) in its own way, a
// message box for instance; without one the message goes to standard error
// as "caption: text". Tests install a capturing hook. The hook is
// process-wide, guarded by a lock; ShowRuntimeMessage may be called from any
// thread, and the hook runs on the calling thread outside the lock (a hook
// may itself show a message).

#ifndef QZR_RUNTIME_RUNTIME_MESSAGE_H_
#define QZR_RUNTIME_RUNTIME_MESSAGE_H_

#include <functional>
#include <string_view>

namespace qzr {

using RuntimeMessageHook = std::function<void(std::string_view caption, std::string_view text)>;

// Installs `hook` (an empty one restores the default) and returns the
// previous hook (empty when the default was in force).
RuntimeMessageHook SetRuntimeMessageHook(RuntimeMessageHook hook);

// Shows `text` under `caption` through the installed hook.
void ShowRuntimeMessage(std::string_view caption, std::string_view text);

}  // namespace qzr

#endif  // QZR_RUNTIME_RUNTIME_MESSAGE_H_
