// Filter and Verify: narrowing a loaded log to the peers and negotiations that matter.
//
// Both work on the tree as the view shows it (model/TreeRules.h): below the log root stand the
// peers; below a peer its tunnels and, in place of a tunnel without
// addresses, that tunnel's negotiations; below a tunnel its negotiations. Everything is asked
// through the generic node operations, so IKEv1 and IKEv2 trees narrow alike. Narrowing removes
// nodes from the tree for good: widening the criteria means reading the log again.
//
// Every text test is case-sensitive: "contains" is a substring test, "equals" a whole-text one.
// Cookie texts are lower-case hexadecimal, so an upper-case cookie matches nothing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/LogFile.h"

namespace quillon {

// What the "Filters" dialog chooses; all off and empty at start.
struct FilterCriteria {
  bool ipOn = false;
  bool cookieOn = false;
  bool spiOn = false;
  bool userNameOn = false;
  bool failedPeersOn = false;
  bool filterOutDpdOn = false;
  std::string ipText;
  std::string cookieText;
  std::string spiText;
  std::string userNameText;

  // Whether any of the six check boxes is on.
  bool AnyOn() const { return ipOn || cookieOn || spiOn || userNameOn || failedPeersOn || filterOutDpdOn; }
  friend bool operator==(const FilterCriteria&, const FilterCriteria&) = default;
};

// The problem categories the "Verify" dialog keeps; all on at start.
struct VerifyCriteria {
  bool failedNegotiations = true;
  bool errorInformational = true;
  bool successiveIdentical = true;
  bool immediateDelete = true;
  bool repeatedDelete = true;

  bool AnyOn() const {
    return failedNegotiations || errorInformational || successiveIdentical || immediateDelete || repeatedDelete;
  }
  friend bool operator==(const VerifyCriteria&, const VerifyCriteria&) = default;
};

// The peer-level tests of the filter, all active ones must hold. The address test passes on
// the peer's caption (the address itself, the address followed by a blank, or the address in
// parentheses as merged peers show their second address), on a negotiation whose user detail
// holds "(address)", or, failing those, on a tunnel that ends at the address: the peer's other
// tunnels and negotiations are then taken out: into `removed` when given, else destroyed.
bool KeepPeer(const FilterCriteria& criteria, LogNode& peer, std::vector<std::unique_ptr<LogNode>>* removed = nullptr);
// The negotiation-level tests: cookie, SPI, and no dead-peer detection.
bool KeepExchange(const FilterCriteria& criteria, const LogNode& exchange);
// A negotiation is kept when any chosen category marks it: failed, an informational exchange
// that is neither a delete nor dead-peer detection (error and status notifications),
// successive identical quick modes, a delete right after a successful negotiation,
// a delete repeated for the same SA.
bool KeepForVerify(const VerifyCriteria& criteria, const LogNode& exchange);

// Whether a negotiation would stay in the tree that ApplyFilter and then ApplyVerify (when
// `verify` is given) leave, asked without changing the tree: a followed log keeps everything
// and tells only what the narrowed tree would show. `tunnel` is the shown tunnel the negotiation
// stands in, null when it stands in place of a tunnel without addresses.
bool ShownAfterNarrowing(const FilterCriteria& filter, const VerifyCriteria* verify, const LogNode& peer,
                         const LogNode* tunnel, const LogNode& exchange);

// The nodes a narrowing takes out of the tree: whole peers, and the tunnels and negotiations of
// the peers that stay. Destroying them would take most of a narrowing's time on a large log,
// so none is destroyed: a caller that passes this list destroys them where it likes (the viewer
// does it on another thread); otherwise the log keeps them aside (LogFile::KeepRemoved) until
// it is cleared or destroyed.
using RemovedNodes = std::vector<std::unique_ptr<LogNode>>;

// Removes what the filter does not keep: peers failing KeepPeer or left without negotiations,
// negotiations failing KeepExchange, tunnels left empty.
void ApplyFilter(LogFile& root, const FilterCriteria& criteria, RemovedNodes* removed = nullptr);
// Removes the negotiations no chosen category marks, and tunnels and peers left empty.
void ApplyVerify(LogFile& root, const VerifyCriteria& criteria, RemovedNodes* removed = nullptr);

// Whether going from the applied filter `before` to `after` widens what may be shown, so that
// the log must be read again.
bool FilterNeedsReload(const FilterCriteria& before, const FilterCriteria& after, bool filterApplied,
                       bool verifyApplied);
// The same for the verify categories: a category turned on while a selection is applied.
bool VerifyNeedsReload(const VerifyCriteria& before, const VerifyCriteria& after, bool verifyApplied);

// What the front end does after the user chose new criteria, in this order: read the log
// again (which clears both applied marks), apply the filter, apply the verify selection.
struct NarrowingSteps {
  bool reload = false;
  bool applyFilter = false;
  bool applyVerify = false;
  friend bool operator==(const NarrowingSteps&, const NarrowingSteps&) = default;
};

// The criteria of one window and what the shown tree reflects. The viewer and quillon-cli
// drive the same decisions.
class Narrowing {
 public:
  const FilterCriteria& Filter() const { return filter_; }
  const VerifyCriteria& Verify() const { return verify_; }
  bool FilterApplied() const { return filterApplied_; }
  bool VerifyApplied() const { return verifyApplied_; }

  // Stores new filter criteria and tells how to reach the tree they describe: a stricter
  // filter narrows the tree in place; a less strict one reads the log again and applies the
  // filter and an applied verify selection anew; no box checked undoes an applied filter.
  NarrowingSteps ChooseFilter(const FilterCriteria& criteria);
  // The same for the verify categories; none checked undoes an applied selection.
  NarrowingSteps ChooseVerify(const VerifyCriteria& criteria);

  // The log was read (again): nothing is applied any more.
  void TreeReloaded() { filterApplied_ = verifyApplied_ = false; }
  // Another log was opened: the criteria return to their start values.
  void ResetCriteria() { filter_ = {}; verify_ = {}; }

  // Applies the stored criteria to the tree and marks them applied.
  void ApplyFilterTo(LogFile& root, RemovedNodes* removed = nullptr);
  void ApplyVerifyTo(LogFile& root, RemovedNodes* removed = nullptr);

 private:
  FilterCriteria filter_;
  VerifyCriteria verify_;
  bool filterApplied_ = false;
  bool verifyApplied_ = false;
};

}  // namespace quillon
