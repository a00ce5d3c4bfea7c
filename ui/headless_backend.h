// The headless window backend: answers message boxes from a script and
// records everything the program showed, for tests.
//
// A test queues the buttons to press; each message takes the next one. When
// the queue is empty the message gets the fallback answer, which by default
// is the message's own default button (as a user pressing Enter would).
// Shown messages, cursor changes and beeps are kept in order for inspection.
//
// Threads: all members lock one mutex, so the program may show messages from
// several threads while the test inspects the records.

#ifndef QZR_UI_HEADLESS_BACKEND_H_
#define QZR_UI_HEADLESS_BACKEND_H_

#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <vector>

#include "ui/window_backend.h"

namespace qzr {

class HeadlessBackend : public WindowBackend {
 public:
  struct ShownMessage {
    MessageRequest request;
    int answer = 0;  // what this backend answered
  };

  // Queues the answers of the next messages, in order.
  void QueueAnswer(int button);
  void QueueAnswers(std::initializer_list<int> buttons);
  // The answer when the queue is empty; nullopt (the initial state) answers
  // each message with its default button.
  void SetFallbackAnswer(std::optional<int> button);
  size_t PendingAnswers() const;

  std::vector<ShownMessage> Messages() const;
  // Every cursor set, in order; and the beeps sounded, by type.
  std::vector<int> Cursors() const;
  std::vector<int> Beeps() const;
  // Forgets the records and the queued answers.
  void Clear();

  int ShowMessage(const MessageRequest& request) override;
  void SetCursor(int cursor) override;
  void Beep(int type) override;

 private:
  mutable std::mutex mu_;
  std::deque<int> answers_;
  std::optional<int> fallback_;
  std::vector<ShownMessage> messages_;
  std::vector<int> cursors_;
  std::vector<int> beeps_;
};

}  // namespace qzr

#endif  // QZR_UI_HEADLESS_BACKEND_H_
