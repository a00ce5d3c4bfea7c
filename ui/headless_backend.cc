// The scripted backend's queue and records.

#include "ui/headless_backend.h"

namespace qzr {

void HeadlessBackend::QueueAnswer(int button) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(button);
}

void HeadlessBackend::QueueAnswers(std::initializer_list<int> buttons) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.insert(answers_.end(), buttons.begin(), buttons.end());
}

void HeadlessBackend::SetFallbackAnswer(std::optional<int> button) {
  std::lock_guard<std::mutex> lock(mu_);
  fallback_ = button;
}

size_t HeadlessBackend::PendingAnswers() const {
  std::lock_guard<std::mutex> lock(mu_);
  return answers_.size();
}

std::vector<HeadlessBackend::ShownMessage> HeadlessBackend::Messages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return messages_;
}

std::vector<int> HeadlessBackend::Cursors() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cursors_;
}

std::vector<int> HeadlessBackend::Beeps() const {
  std::lock_guard<std::mutex> lock(mu_);
  return beeps_;
}

void HeadlessBackend::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.clear();
  messages_.clear();
  cursors_.clear();
  beeps_.clear();
}

int HeadlessBackend::ShowMessage(const MessageRequest& request) {
  std::lock_guard<std::mutex> lock(mu_);
  int answer = request.default_button;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else if (fallback_) {
    answer = *fallback_;
  }
  messages_.push_back({request, answer});
  return answer;
}

void HeadlessBackend::SetCursor(int cursor) {
  std::lock_guard<std::mutex> lock(mu_);
  cursors_.push_back(cursor);
}

void HeadlessBackend::Beep(int type) {
  std::lock_guard<std::mutex> lock(mu_);
  beeps_.push_back(type);
}

}  // namespace qzr
