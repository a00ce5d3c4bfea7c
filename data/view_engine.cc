// The view engine: opening, order and filter, positioning, reading rows
// through the joins and the filter, and the pass that builds the sorted
// list. The joins are in view_engine_joins.cc. One thread per engine; see
// the header for the driver calls it makes.

#include "data/view_engine.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <optional>
#include <utility>

#include "runtime/core/runtime_error.h"
#include "runtime/core/text.h"

namespace qzr {

namespace {

std::atomic<uint32_t> next_identity{1};

}  // namespace

ViewEngine::ViewEngine(const View* view) : view_(view), identity_(next_identity++) {
  filter_check_.engine = this;
  for (int n = 1; n <= view_->FileCount(); ++n) files_.push_back(view_->File(n));
  joins_.resize(files_.size() + 1);
}

ViewEngine::~ViewEngine() {
  Close();
}

int ViewEngine::Call(FileOp op, int file, FileArgs& args) {
  args.view = identity_;
  return DoFileOp(op, File(file), args);
}

int ViewEngine::Fail(int code) {
  PostError(code);
  return code;
}

int ViewEngine::ReadPosition(int file, uint32_t* position) {
  FileArgs args;
  const int rc = Call(FileOp::POINTERfile, file, args);
  *position = rc == 0 ? static_cast<uint32_t>(args.result) : 0;
  return rc;
}

int ViewEngine::ReadPositionAfter(const FileArgs& args, int file, uint32_t* position) {
  // A driver that tells the position with the read saves a call per row.
  if (args.result > 0 && args.result <= int64_t{UINT32_MAX}) {
    *position = static_cast<uint32_t>(args.result);
    return 0;
  }
  return ReadPosition(file, position);
}

int ViewEngine::GetByPosition(int file, uint32_t position, bool nomemo) {
  FileArgs args;
  args.position = position;
  if (nomemo) ArmNoMemo(args);
  return Call(FileOp::GETfileptr, file, args);
}

void ViewEngine::ClearBuffer(int file) {
  FileDescriptor& f = File(file);
  std::fill(f.record.begin(), f.record.end(), uint8_t{0});
  for (const FieldDesc& field : f.fields) {
    if (field.over != kNoField || field.type == TypeCode::GROUP) continue;
    for (uint32_t e = 0; e < field.ElementCount(); ++e) {
      UfoSlot slot;
      slot.Make(field.type, f.record.data() + field.offset + e * field.size, field.size,
                field.places)
          ->Clear(0);
    }
  }
  for (std::string& memo : f.memo_values) memo.clear();
}

// ---------------------------------------------------------------------------
// Opening, order, filter

int ViewEngine::Open() {
  if (open_) return Fail(kFileAlreadyOpen);
  if (files_.empty()) return Fail(kInvalidRecordDeclaration);
  for (FileDescriptor* f : files_) {
    if (!f->IsOpen()) return Fail(kFileNotOpen);
    for (const FieldDesc& field : f->fields) {
      if (field.offset + field.TotalSize() > f->record.size()) {
        return Fail(kInvalidRecordDeclaration);
      }
    }
  }
  for (int j = 2; j <= static_cast<int>(files_.size()); ++j) {
    const ViewLevel* level = view_->Level(j);
    joins_[static_cast<size_t>(j)] = JoinSlot();
    if (level->join_by_expression) {
      const int rc = Parse(level->join_expression, &joins_[static_cast<size_t>(j)].expression);
      if (rc != 0) return rc;
    }
  }
  open_ = true;
  const FileDriver* driver = FindDriver(files_[0]->driver);
  nomemo_with_read_ = driver != nullptr && driver->Info().capabilities.nomemo_with_read;
  skip_with_read_ = driver != nullptr && driver->Info().capabilities.skip_with_read;
  // A driver that ran the whole view itself would say so here; the drivers
  // of this program leave the reading to the engine, so the answer is only
  // traced.
  FileArgs query;
  Call(FileOp::QUERY_VIEW, 1, query);
  if (read_ahead_ > 0) SetReadAhead(read_ahead_);
  TellPageRows();
  ChooseAccess();
  list_.Invalidate();
  return Set();
}

void ViewEngine::Close() {
  if (!open_) return;
  open_ = false;
  list_.Clear();
  for (JoinSlot& s : joins_) s.domain.clear();
  state_ = State::kStart;
  current_position_.clear();
}

int ViewEngine::Parse(std::string_view text, std::unique_ptr<Expression>* out) {
  if (bound_.empty()) {
    for (size_t n = 0; n < files_.size(); ++n) {
      FileDescriptor* f = files_[n];
      bound_bases_.push_back(f->record.data());
      for (const FieldDesc& field : f->fields) {
        // An array's name stands for the whole array, which a scalar
        // expression cannot use: DIM fields are not bound.
        if (!field.dims.empty() || field.offset + field.size > f->record.size()) continue;
        bound_.push_back(
            {field.label, n, field.offset,
             MakeUfo(field.type, f->record.data() + field.offset, field.size, field.places)});
      }
    }
  }
  RefreshBindings();
  if (!PUSHBIND(false)) return ERRORCODE() != 0 ? ERRORCODE() : 1013;
  for (const Bound& b : bound_) BIND(b.label, b.ufo.get());
  *out = Expression::Parse(text);
  const int rc = *out ? 0 : ERRORCODE();
  const std::string detail = ERRORDETAIL();
  POPBIND();
  if (rc != 0) {
    PostError(rc, detail);
  } else {
    ClearError();
  }
  return rc;
}

int ViewEngine::SetOrder(std::string_view text) {
  std::vector<OrderItem> items;
  std::string bad;
  if (ParseOrderText(text, files_, &items, &bad) != 0) {
    PostError(kInvalidOrderText, bad);
    return kInvalidOrderText;
  }
  for (const OrderItem& item : items) {
    // Only the primary file's fields order the view: a joined file's record
    // is not known until its parent is, and a parent with several matches
    // would need several places in the order.
    if (item.file != 1) {
      PostError(kInvalidOrderText, File(item.file).fields[static_cast<size_t>(item.field)].label);
      return kInvalidOrderText;
    }
  }
  order_ = std::move(items);
  order_text_ = std::string(text);
  list_.Invalidate();
  ChooseAccess();
  return open_ ? Set() : 0;
}

int ViewEngine::SetFilter(std::string_view text) {
  if (Trim(text, kWhiteSpace).empty()) {
    filter_.reset();
    filter_text_.clear();
  } else {
    std::unique_ptr<Expression> parsed;
    const int rc = Parse(text, &parsed);
    if (rc != 0) return rc;
    filter_repeatable_ = parsed->Repeatable();
    filter_ = std::move(parsed);
    filter_text_ = std::string(text);
  }
  list_.Invalidate();
  return open_ ? Set() : 0;
}

void ViewEngine::SetBuffering(const ViewBuffering& buffering) {
  buffering_ = buffering;
  if (buffering.pages_ahead > 0) {
    SetReadAhead(static_cast<uint32_t>(buffering.pages_ahead) * buffering.page_size);
  }
  if (open_) TellPageRows();
}

void ViewEngine::TellPageRows() {
  FileArgs args;
  args.property = kPropertyPageRows;
  // A page after a positioning often starts with the row it was placed on
  // (a browse's next page reads its edge row again): one row more.
  args.value = std::to_string(buffering_.page_size == 0 ? 0 : buffering_.page_size + 1);
  // A driver without it answers 80; reading works the same without.
  Call(FileOp::SET_PROPERTY, 1, args);
  ClearError();
}

void ViewEngine::SetReadAhead(uint32_t records) {
  read_ahead_ = std::min(records, kMaxReadAhead);
  if (!open_) return;
  FileArgs args;
  args.property = kPropertyReadAhead;
  args.value = std::to_string(read_ahead_);
  // A driver without read-ahead answers 80; reading works the same without.
  Call(FileOp::SET_PROPERTY, 1, args);
  ClearError();
}

bool ViewEngine::KeySupports(const KeyDesc& key, bool* reversed) const {
  // An INDEX is not kept up to date; an OPT key is asked about apart
  // (KeyHoldsEveryRow).
  if ((key.flags & kKeyIndex) != 0) return false;
  if (order_.size() > key.components.size()) return false;
  const bool nocase = (key.flags & kKeyNocase) != 0;
  for (size_t i = 0; i < order_.size(); ++i) {
    const OrderItem& item = order_[i];
    const KeyComponent& comp = key.components[i];
    if (comp.field != item.field) return false;
    const FieldDesc& field = files_[0]->fields[static_cast<size_t>(item.field)];
    if (IsTextType(field.type)) {
      // A NOCASE key orders as UPPER does; a plain key orders by the text.
      if (item.fold != (nocase ? OrderFold::kUpper : OrderFold::kNone)) return false;
    }
    const bool flip = item.descending != comp.descending;
    if (i == 0) {
      *reversed = flip;
    } else if (flip != *reversed) {
      return false;
    }
  }
  return true;
}

bool ViewEngine::KeyHoldsEveryRow(int key) {
  FileArgs rows;
  FileArgs entries;
  entries.key = key;
  const bool counted =
      Call(FileOp::RECORDSfile, 1, rows) == 0 && Call(FileOp::RECORDSkey, 1, entries) == 0;
  ClearError();
  return counted && rows.result == entries.result;
}

void ViewEngine::ChooseAccess() {
  key_ = -1;
  access_ = Access::kRecordOrder;
  placement_fields_.clear();
  opt_key_asked_ = false;
  if (order_.empty()) return;
  const auto& keys = files_[0]->keys;
  for (size_t k = 0; k < keys.size(); ++k) {
    bool reversed = false;
    if (KeySupports(keys[k], &reversed)) {
      // An OPT key leaves out the rows whose value is blank: it serves the
      // order only while it holds every row, which is asked again at every
      // Set (a pass from the start), as the sorted list would be rebuilt.
      if ((keys[k].flags & kKeyOpt) != 0) {
        opt_key_asked_ = true;
        if (!open_ || !KeyHoldsEveryRow(static_cast<int>(k))) continue;
      }
      key_ = static_cast<int>(k);
      access_ = reversed ? Access::kKeyReversed : Access::kKey;
      break;
    }
  }
  if (key_ < 0) access_ = Access::kSortedList;
  // Kept with the access: every row read encodes them into its position.
  if (access_ == Access::kKey || access_ == Access::kKeyReversed) {
    for (const KeyComponent& c : keys[static_cast<size_t>(key_)].components) {
      placement_fields_.push_back(c.field);
    }
  } else if (access_ == Access::kSortedList) {
    for (const OrderItem& item : order_) placement_fields_.push_back(item.field);
  }
}

const std::vector<int>& ViewEngine::PlacementFields() const {
  return placement_fields_;
}

// ---------------------------------------------------------------------------
// Positioning

int ViewEngine::Set() {
  if (!open_) return Fail(kFileNotOpen);
  state_ = State::kStart;
  current_position_.clear();
  if (opt_key_asked_) ChooseAccess();
  if (access_ == Access::kSortedList) {
    const int rc = EnsureList();
    if (rc != 0) return rc;
  }
  ClearError();
  return 0;
}

int ViewEngine::Reset(std::string_view position) {
  if (!open_) return Fail(kFileNotOpen);
  ViewPosition parts;
  if (!DecodeViewPosition(position, files_.size(), &parts)) return Fail(kRecordNotFound);

  if (access_ == Access::kSortedList) {
    const int rc = EnsureList();
    if (rc != 0) return rc;
  }
  const uint32_t target = parts.records[0];
  const std::vector<int>& fields = PlacementFields();
  const std::vector<ViewPlacement>& placement = parts.placement;
  bool fits = parts.access == static_cast<uint32_t>(access_) &&
              parts.key == static_cast<uint32_t>(key_ + 1) && placement.size() == fields.size();
  FileDescriptor& primary = File(1);
  for (size_t i = 0; fits && i < fields.size(); ++i) {
    const FieldDesc& f = primary.fields[static_cast<size_t>(fields[i])];
    fits = placement[i].field == fields[i] && placement[i].bytes.size() == f.TotalSize();
  }
  // The view is placed without reading the row where the position tells
  // enough: record order seeks by the record position alone, the sorted
  // list finds a listed row by it, and a key seeks by the ordering values
  // the position kept. The row itself, when it is still there, is then the
  // next read in either direction; when it is gone the reads go on from
  // where it stood. (Reading it here would read every edge row twice.)
  int rc = 0;
  const bool listed = access_ == Access::kSortedList && list_.Find(target).has_value();
  if (access_ == Access::kRecordOrder || listed) {
    // nothing to read
  } else if (fits) {
    for (size_t i = 0; i < fields.size(); ++i) {
      const FieldDesc& f = primary.fields[static_cast<size_t>(fields[i])];
      std::copy(placement[i].bytes.begin(), placement[i].bytes.end(),
                primary.record.begin() + f.offset);
    }
  } else {
    // Taken under another order, or without its values: the row's own
    // values place the view, so it must still be there.
    rc = GetByPosition(1, target);
    if (rc != 0) return rc == kRecordNotFound ? Fail(kRecordNotFound) : rc;
  }

  FileArgs args;
  args.position = target;
  switch (access_) {
    case Access::kRecordOrder:
      rc = Call(FileOp::SETfileptr, 1, args);
      break;
    case Access::kKey:
    case Access::kKeyReversed:
      args.key = key_;
      rc = Call(FileOp::SETkeykeyptr, 1, args);
      break;
    case Access::kSortedList: {
      if (const std::optional<size_t> found = list_.Find(target)) {
        seek_lo_ = *found;
        seek_hi_ = static_cast<long>(*found);
      } else {
        SortedRow probe;
        probe.position = target;
        probe.key.resize(order_.size());
        for (size_t i = 0; i < order_.size(); ++i) {
          ReadOrderValue(order_[i], files_, &probe.key[i]);
        }
        list_.Bounds(order_, probe, &seek_lo_, &seek_hi_);
      }
      rc = 0;
      break;
    }
  }
  if (rc != 0) return rc;
  seek_positions_ = std::move(parts.records);
  state_ = State::kSeek;
  current_position_.clear();
  ClearError();
  return 0;
}

int ViewEngine::Reget(std::string_view position) {
  if (!open_) return Fail(kFileNotOpen);
  std::vector<uint32_t> positions;
  if (!DecodeViewPositionRecords(position, files_.size(), &positions)) {
    return Fail(kRecordNotFound);
  }
  // A read by position may move the file's sequential position.
  run_ = false;
  int rc = GetByPosition(1, positions[0]);
  if (rc != 0) return rc;
  for (int file = 2; file <= static_cast<int>(files_.size()); ++file) {
    const uint32_t p = positions[static_cast<size_t>(file - 1)];
    rc = p == 0 ? kRecordNotFound : GetByPosition(file, p);
    if (rc == kRecordNotFound) {
      ClearBuffer(file);
    } else if (rc != 0) {
      return rc;
    }
  }
  RefreshBindings();
  ClearError();
  return 0;
}

// ---------------------------------------------------------------------------
// Reading

int ViewEngine::Next() {
  return Step(true);
}
int ViewEngine::Previous() {
  return Step(false);
}

int ViewEngine::Step(bool forward) {
  if (!open_) return Fail(kFileNotOpen);
  strayed_ = false;
  memos_touched_ = false;
  held_.taken = false;
  if (filter_ != nullptr || check_ != nullptr || HasInnerJoin()) HoldBuffers();
  while (true) {
    int rc = 0;
    bool seeking = false;
    switch (state_) {
      case State::kStart:
        rc = PrimaryStep(forward, true);
        break;
      case State::kBeforeFirst:
        if (!forward) return Fail(kRecordNotAvailable);
        rc = PrimaryStep(true, true);
        break;
      case State::kAfterLast:
        if (forward) return Fail(kRecordNotAvailable);
        rc = PrimaryStep(false, true);
        break;
      case State::kSeek:
        seeking = true;
        rc = SeekPrimary(forward);
        break;
      case State::kOnRow:
        rc = AdvanceJoins(forward);
        if (rc == 0) break;
        if (rc != kNoCombination) return rc;
        if (held_.taken) strayed_ = true;  // an INNER join may have read records it drops
        rc = PrimaryStep(forward, false);
        if (rc == 0) rc = FillJoins(2, forward, nullptr);
        break;
    }
    if (seeking && rc == 0) {
      rc = FillJoins(2, forward, primary_ == seek_positions_[0] ? &seek_positions_ : nullptr);
    } else if (rc == 0 && (state_ == State::kStart || state_ == State::kBeforeFirst ||
                           state_ == State::kAfterLast)) {
      rc = FillJoins(2, forward, nullptr);
    }
    if (rc == kRecordNotAvailable) {
      // A failure of its own would hide the end: the end is what is told.
      if (RestoreBuffers(current_position_) != 0) ClearError();
      state_ = forward ? State::kAfterLast : State::kBeforeFirst;
      current_position_.clear();
      return Fail(kRecordNotAvailable);
    }
    state_ = State::kOnRow;
    if (rc != 0 && rc != kNoCombination) return rc;
    strayed_ = true;                     // until the row is handed out
    if (rc == kNoCombination) continue;  // INNER found nothing for this parent
    if (!Passes()) continue;
    if (memos_deferred_) {
      bool again = false;
      rc = ReadKeptMemos(&again);
      if (again) memos_touched_ = true;
      if (rc == kRecordNotFound) continue;  // deleted since it was read
      if (rc != 0) return rc;
      if (again && !Passes()) continue;
    }
    EncodePositionInto(primary_, true, &current_position_);
    ClearError();
    return 0;
  }
}

int ViewEngine::PrimaryStep(bool forward, bool from_start) {
  if (access_ == Access::kSortedList) {
    const long size = static_cast<long>(list_.size());
    if (from_start) {
      cursor_ = forward ? -1 : size;
      run_ = false;
      ahead_dir_ = 0;
    }
    return ListStep(forward);
  }
  const bool driver_forward = forward != (access_ == Access::kKeyReversed);
  int rc = 0;
  if (from_start) {
    FileArgs args;
    if (access_ == Access::kRecordOrder) {
      rc = Call(FileOp::SETfile, 1, args);
    } else {
      args.key = key_;
      rc = Call(FileOp::SETkey, 1, args);
    }
    if (rc != 0) return rc;
  }
  return DriverRead(driver_forward);
}

int ViewEngine::DriverRead(bool driver_forward) {
  int rc = 0;
  FileArgs args;
  // 35: the record the file was positioned on is gone; the next step goes
  // on past it. Bounded so that a driver answering 35 forever cannot hang.
  for (int attempt = 0; attempt < 3; ++attempt) {
    args.key = key_;
    args.result = 0;
    ArmNoMemo(args);
    // Records the driver passes over are left in the buffer: restored, as
    // those the filter drops here are, if the read ends.
    args.skip = SkipCheck();
    if (args.skip != nullptr) strayed_ = true;
    rc = Call(driver_forward ? FileOp::NEXT : FileOp::PREVIOUS, 1, args);
    if (rc != kRecordNotFound) break;
  }
  if (rc != 0) return rc;
  return ReadPositionAfter(args, 1, &primary_);
}

int ViewEngine::ListStep(bool forward) {
  const long size = static_cast<long>(list_.size());
  const long dir = forward ? 1 : -1;
  while (true) {
    cursor_ += dir;
    if (cursor_ < 0 || cursor_ >= size) {
      cursor_ = cursor_ < 0 ? -1 : size;
      return kRecordNotAvailable;
    }
    const uint32_t position = list_.row(static_cast<size_t>(cursor_)).position;
    // Entries whose records lay next to each other in record order when
    // the list was built (an order that follows the records' own) are read
    // as a run of sequential reads, which a driver can serve in batches,
    // instead of a lookup each.
    const bool continues =
        run_ && (forward ? list_.Linked(run_at_, cursor_) : list_.Linked(cursor_, run_at_));
    const bool starts =
        forward ? list_.Linked(cursor_, cursor_ + 1) : list_.Linked(cursor_ - 1, cursor_);
    int rc = 0;
    if (continues || starts) {
      if (!continues) {
        FileArgs set;
        set.position = position;
        rc = Call(FileOp::SETfileptr, 1, set);
      }
      FileArgs step;
      if (rc == 0) {
        ArmNoMemo(step);
        rc = Call(forward ? FileOp::NEXT : FileOp::PREVIOUS, 1, step);
      }
      uint32_t got = 0;
      if (rc == 0) rc = ReadPositionAfter(step, 1, &got);
      if (rc == 0 && got == position) {
        run_ = true;
        run_at_ = cursor_;
        primary_ = position;
        return 0;
      }
      // The records moved since the list was built: look this one up.
      if (rc != 0 && rc != kRecordNotFound && rc != kRecordNotAvailable) return rc;
      if (rc == 0) strayed_ = true;  // another record is in the buffer
    }
    run_ = false;
    AskAhead(forward);
    rc = GetByPosition(1, position, true);
    if (rc == kRecordNotFound) continue;  // deleted since the list was built
    if (rc != 0) return rc;
    primary_ = position;
    return 0;
  }
}

int ViewEngine::SeekPrimary(bool forward) {
  if (access_ == Access::kSortedList) {
    run_ = false;
    ahead_dir_ = 0;
    cursor_ = forward ? static_cast<long>(seek_lo_) - 1 : seek_hi_ + 1;
    return ListStep(forward);
  }
  return DriverRead(forward != (access_ == Access::kKeyReversed));
}

void ViewEngine::AskAhead(bool forward) {
  // Few first, then more while the reading goes on in the same direction:
  // a page of a browse read from a new place asks for little it never reads.
  constexpr uint32_t kFirstAhead = 8;
  constexpr uint32_t kMostAhead = 32;
  // A page of the view's page size (and the row it starts from) at first,
  // when that is more.
  const uint32_t first =
      std::clamp<uint32_t>(buffering_.page_size + 1u, kFirstAhead, 2 * kMostAhead);
  if (!ahead_supported_) return;
  const int dir = forward ? 1 : -1;
  if (ahead_dir_ == dir && (forward ? cursor_ >= ahead_from_ && cursor_ < ahead_to_
                                    : cursor_ <= ahead_from_ && cursor_ > ahead_to_)) {
    return;
  }
  const bool goes_on = ahead_dir_ == dir && cursor_ == ahead_to_;
  ahead_rows_ = goes_on ? std::min(ahead_rows_ * 2, kMostAhead) : first;
  const long size = static_cast<long>(list_.size());
  std::string positions;
  long at = cursor_;
  for (uint32_t n = 0; n < ahead_rows_ && at >= 0 && at < size; ++n, at += dir) {
    const uint32_t p = list_.row(static_cast<size_t>(at)).position;
    const char bytes[4] = {static_cast<char>(p >> 24), static_cast<char>(p >> 16),
                           static_cast<char>(p >> 8), static_cast<char>(p)};
    positions.append(bytes, 4);
  }
  ahead_dir_ = 0;
  // One row is read as cheaply on its own.
  if (positions.size() < 8) return;
  FileArgs args;
  args.property = kPropertyRowsAhead;
  args.value = std::move(positions);
  args.length = DefersMemos() ? 0 : 1;
  if (Call(FileOp::DO_PROPERTY, 1, args) != 0) {
    ahead_supported_ = false;
    ClearError();
    return;
  }
  ahead_dir_ = dir;
  ahead_from_ = cursor_;
  ahead_to_ = at;
}

RecordCheck* ViewEngine::SkipCheck() {
  if (!skip_with_read_ || filter_ == nullptr || files_.size() != 1) return nullptr;
  // A procedure may read or change a file: never inside another read. A
  // record the driver keeps is checked again here: a random draw must be
  // made once per record.
  if (!filter_repeatable_) return nullptr;
  // Records passed over must not bring their memos into the buffer.
  if (!memos_deferred_ && !files_[0]->memos.empty()) return nullptr;
  return &filter_check_;
}

bool ViewEngine::DefersMemos() const {
  // The filter sees the bound record fields only, never a memo or BLOB, so
  // a record it drops needs no memos; a joined file's rows are decided with
  // their parent, which keeps the simple path for the one-file view.
  const bool decided = filter_ != nullptr || check_ != nullptr;
  const bool check_blind = check_ == nullptr || !check_reads_memos_;
  return memo_reads_ && decided && check_blind && files_.size() == 1 && !files_[0]->memos.empty();
}

void ViewEngine::ArmNoMemo(FileArgs& read) {
  memos_deferred_ = false;
  read.nomemo = false;
  if (!DefersMemos()) return;
  if (nomemo_with_read_) {
    read.nomemo = true;
    memos_deferred_ = true;
    return;
  }
  FileArgs args;
  if (Call(FileOp::NOMEMO, 1, args) != 0) {
    memo_reads_ = false;
    ClearError();
    return;
  }
  memos_deferred_ = true;
}

int ViewEngine::ReadKeptMemos(bool* again) {
  memos_deferred_ = false;
  *again = false;
  FileArgs args;
  args.property = kPropertyReadMemos;
  int rc = Call(FileOp::DO_PROPERTY, 1, args);
  if (rc == kUnsupportedFunction) {
    // The driver cannot add the memos afterwards: read the record again,
    // and read every record whole from now on.
    memo_reads_ = false;
    ClearError();
    rc = GetByPosition(1, primary_);
    *again = true;
    return rc;
  }
  *again = rc == 0 && args.result != 0;
  return rc;
}

void ViewEngine::HoldBuffers() {
  held_.taken = true;
  // Reads that leave the memos out leave the buffer's memos as they were.
  held_.memos_held = !DefersMemos();
  held_.records.resize(files_.size());
  held_.memos.resize(files_.size());
  for (size_t n = 0; n < files_.size(); ++n) {
    const FileDescriptor& f = *files_[n];
    held_.records[n].assign(f.record.begin(), f.record.end());
    if (!held_.memos_held) continue;
    // Assigned string by string, so that the copies keep their storage
    // from one read to the next.
    std::vector<std::string>& memos = held_.memos[n];
    memos.resize(f.memo_values.size());
    for (size_t i = 0; i < memos.size(); ++i) memos[i].assign(f.memo_values[i]);
  }
}

int ViewEngine::RestoreBuffers(const std::string& last_position) {
  if (!strayed_) return 0;
  strayed_ = false;
  const bool memos_lost = memos_touched_ || !memo_reads_;
  if (!held_.taken || (!held_.memos_held && memos_lost)) {
    // Nothing held, or the memos not: the last row is read again whole.
    if (!last_position.empty()) {
      const int rc = Reget(last_position);
      return rc != 0 ? rc : TakeCurrentRecords(last_position, true);
    }
    if (!held_.taken) return TakeCurrentRecords(last_position, false);
  }
  for (size_t n = 0; n < files_.size(); ++n) {
    FileDescriptor& f = *files_[n];
    const std::vector<uint8_t>& record = held_.records[n];
    std::copy_n(record.begin(), std::min(record.size(), f.record.size()), f.record.begin());
    if (held_.memos_held) {
      const std::vector<std::string>& memos = held_.memos[n];
      f.memo_values.resize(memos.size());
      for (size_t i = 0; i < memos.size(); ++i) f.memo_values[i].assign(memos[i]);
    } else if (memos_lost) {
      // What the buffer held before is gone; no memos beat another row's.
      for (std::string& memo : f.memo_values) memo.clear();
    }
  }
  return TakeCurrentRecords(last_position, false);
}

int ViewEngine::TakeCurrentRecords(const std::string& last_position, bool read_again) {
  std::vector<uint32_t> positions(files_.size(), 0);
  if (!last_position.empty() &&
      !DecodeViewPositionRecords(last_position, files_.size(), &positions)) {
    positions.assign(files_.size(), 0);
  }
  int first_rc = 0;
  for (int file = 1; file <= static_cast<int>(files_.size()); ++file) {
    const uint32_t p = positions[static_cast<size_t>(file - 1)];
    // Read again, the file already has it as its current record.
    if (read_again && p != 0) continue;
    FileArgs args;
    args.property = kPropertyCurrentRecord;
    args.position = p;
    int rc = Call(FileOp::DO_PROPERTY, file, args);
    // A driver that cannot be told reads the record again (the buffer gets
    // what it holds now); with no row handed out there is nothing to read.
    if (rc == kUnsupportedFunction) rc = p != 0 ? GetByPosition(file, p) : 0;
    if (rc != 0 && first_rc == 0) first_rc = rc;
  }
  return first_rc;
}

bool ViewEngine::FilterPasses() {
  if (filter_ == nullptr) return true;
  RefreshBindings();
  return filter_->EvaluateBool();
}

bool ViewEngine::Passes() {
  if (!FilterPasses()) return false;
  return check_ == nullptr || check_->Keep();
}

void ViewEngine::RefreshBindings() {
  for (size_t n = 0; n < bound_bases_.size(); ++n) {
    if (bound_bases_[n] == files_[n]->record.data()) continue;
    bound_bases_[n] = files_[n]->record.data();
    for (Bound& b : bound_) {
      if (b.file == n) b.ufo->Rebind(files_[n]->record.data() + b.offset);
    }
  }
}

// ---------------------------------------------------------------------------
// Positions

std::string ViewEngine::EncodePosition() const {
  return EncodePosition(primary_, true);
}

std::string ViewEngine::EncodePosition(uint32_t row, bool joins) const {
  std::string out;
  EncodePositionInto(row, joins, &out);
  return out;
}

void ViewEngine::EncodePositionInto(uint32_t row, bool joins, std::string* out) const {
  ViewPosition& parts = position_parts_;
  parts.records.clear();
  parts.placement.clear();
  parts.records.push_back(row);
  for (size_t j = 2; j <= files_.size(); ++j) {
    const JoinSlot& slot = joins_[j];
    parts.records.push_back(
        !joins || slot.index < 0 ? 0 : slot.domain[static_cast<size_t>(slot.index)]);
  }
  parts.access = static_cast<uint8_t>(access_);
  parts.key = static_cast<uint8_t>(key_ + 1);
  const FileDescriptor& primary = *files_[0];
  for (int field : PlacementFields()) {
    const FieldDesc& f = primary.fields[static_cast<size_t>(field)];
    parts.placement.push_back(
        {field, std::string_view(reinterpret_cast<const char*>(primary.record.data() + f.offset),
                                 f.TotalSize())});
  }
  EncodeViewPosition(parts, out);
}

std::string ViewEngine::Position() const {
  return current_position_;
}

std::string ViewEngine::CurrentRecordPosition() {
  if (!open_) return {};
  uint32_t position = 0;
  if (ReadPosition(1, &position) != 0 || position == 0) {
    ClearError();
    return {};
  }
  return EncodePosition(position, false);
}

// ---------------------------------------------------------------------------
// The sorted list

void ViewEngine::Flush() {
  list_.Invalidate();
}

std::optional<std::vector<int64_t>> ViewEngine::ChangeCounts() {
  std::vector<int64_t> counts;
  for (int n = 1; n <= static_cast<int>(files_.size()); ++n) {
    FileArgs args;
    args.property = kPropertyChangeCount;
    int64_t v = 0;
    const int rc = Call(FileOp::GET_PROPERTY, n, args);
    const char* end = args.value.data() + args.value.size();
    if (rc != 0 || std::from_chars(args.value.data(), end, v).ptr != end || args.value.empty()) {
      ClearError();
      return std::nullopt;
    }
    counts.push_back(v);
  }
  return counts;
}

int ViewEngine::EnsureList() {
  if (list_.valid()) {
    // Only a list stamped with change counts asks the drivers for them.
    std::optional<std::vector<int64_t>> counts;
    if (list_.counted()) counts = ChangeCounts();
    if (list_.Fresh(counts, std::chrono::seconds(buffering_.timeout))) return 0;
  }
  return BuildList();
}

int ViewEngine::BuildList() {
  // Counted before the pass, so that a change made during it shows up.
  list_.Begin(ChangeCounts());
  run_ = false;
  ahead_dir_ = 0;
  int rc = Call(FileOp::SETfile, 1);
  if (rc != 0) return rc;
  uint32_t scan = 0;
  while (true) {
    // The list keeps positions and order values, never memos.
    FileArgs step;
    if (memo_reads_ && !File(1).memos.empty()) {
      FileArgs nomemo;
      if (nomemo_with_read_) {
        step.nomemo = true;
      } else if (Call(FileOp::NOMEMO, 1, nomemo) != 0) {
        memo_reads_ = false;
        ClearError();
      }
    }
    rc = Call(FileOp::NEXT, 1, step);
    if (rc == kRecordNotAvailable) break;
    if (rc == kRecordNotFound) continue;
    if (rc != 0) return rc;
    uint32_t position = 0;
    rc = ReadPositionAfter(step, 1, &position);
    if (rc != 0) return rc;
    SortedRow entry;
    entry.position = position;
    entry.scan = ++scan;
    // Values first: filling the joins may not touch the primary buffer, but
    // reading before them keeps the order values those of this record.
    entry.key.resize(order_.size());
    for (size_t i = 0; i < order_.size(); ++i) ReadOrderValue(order_[i], files_, &entry.key[i]);
    // A record stays in the list when at least one of its rows passes; the
    // rows themselves are checked again when read.
    bool keep = false;
    if (files_.size() == 1) {
      keep = FilterPasses();
    } else if (filter_ != nullptr || HasInnerJoin()) {
      rc = FillJoins(2, true, nullptr);
      while (rc == 0 && !(keep = FilterPasses())) rc = AdvanceJoins(true);
      if (rc != 0 && rc != kNoCombination) return rc;
    } else {
      keep = true;
    }
    if (keep) list_.Add(std::move(entry));
  }
  list_.Finish(order_);
  cursor_ = -1;
  state_ = State::kStart;
  ClearError();
  return 0;
}

}  // namespace qzr
