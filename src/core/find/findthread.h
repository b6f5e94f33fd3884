// The background search: a worker thread walks the cache tree below a start
// folder, tests every node against the criteria and reports the hits.
//
// Who owns what:
// - The owner thread (the one that makes and starts the search, normally the
//   window thread) owns this object, its handlers and the cache tree. It
//   alone changes the tree, and it stops a running search first: Stop()
//   returns only when the worker touches no node any more. The tree's
//   OnChanging event, which Build, Clear, SortAll, RenameDuplicates, AddNode
//   and DeleteNode raise before they change anything, is where to call it
//   (StopBeforeChanges does that).
// - The worker reads the nodes (names, children, Info, and the tree's
//   DefaultFileName, which counts as part of the tree) and the criteria from
//   Start() until it ends, and writes nothing that the owner reads other than
//   through the hand-off below. Handlers are set before Start() and not
//   changed while the search runs.
// - Hits travel to the owner through a queue, in the order found: the worker
//   appends the node (calling OnWake for every 64 new hits, or 20 ms after
//   the first of them, and waiting while 1,024 hits wait), the owner runs
//   OnFound for each in
//   ProcessMessages. A queued node stays valid because the tree does not
//   change until the search is stopped, and a stop drops the queue: no
//   OnFound is run after the stop was asked for. The worker goes on reading
//   the tree while OnFound runs, so a handler reads its node and never
//   changes the tree (a change stops the search first).
// - OnFolder runs on the worker, with the folder's URL; its handler must only
//   hand the text on (it must not touch the tree or call Stop).
#pragma once

#include "find/filemask.h"
#include "find/finddata.h"
#include "tree/webcachetree.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnhold {

class TFindThread {
public:
    using TFoundEvent = std::function<void(TFindThread& sender, TWebCacheTreeNode* node)>;
    using TFolderEvent = std::function<void(TFindThread& sender, const std::string& url)>;
    using TNotifyEvent = std::function<void(TFindThread& sender)>;
    using TWakeEvent = std::function<void()>;

    // Takes the criteria; StartNode must be set.
    explicit TFindThread(std::unique_ptr<TFindData> data);
    // Stops the worker and waits for it, without running OnTerminate.
    ~TFindThread();
    TFindThread(const TFindThread&) = delete;
    TFindThread& operator=(const TFindThread&) = delete;

    TFoundEvent OnFound;      // owner thread, for each hit
    TFolderEvent OnFolder;    // worker thread, for each visited node
    TNotifyEvent OnTerminate; // owner thread, once, after the worker ended
    // Worker thread: something waits for ProcessMessages (some hits, or the
    // end).
    // A window posts itself an event here; a console loop needs none.
    TWakeEvent OnWake;

    const TFindData& FindData() const { return *data_; }
    // The node being handed to OnFound, else null.
    TWebCacheTreeNode* FoundNode() const { return foundNode_; }

    // Starts the worker at the lowest scheduling priority.
    void Start();
    // Asks the worker to end; it stops before its next node. Any thread.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_relaxed); }
    // Owner: Terminate, wait until the worker has ended, then run OnTerminate
    // unless it ran already.
    void Stop();
    // Owner: runs what waits for this thread (OnFound for a hit, OnTerminate
    // once the worker has ended), waiting up to timeout for it. False once
    // OnTerminate has run, and for a search never started. At most maxHits
    // hits are handed over per call, so that a window gets back to its
    // events however fast the worker finds; the rest wait for the next call.
    bool ProcessMessages(std::chrono::milliseconds timeout = std::chrono::milliseconds(0),
                         std::size_t maxHits = SIZE_MAX);
    // Owner: whether hits wait for ProcessMessages (false while the worker
    // holds the queue; it wakes the owner when it has added enough). With no
    // timeout, ProcessMessages does not wait for the queue either: a busy
    // machine may keep the worker, at the lowest priority, from letting it
    // go for long.
    bool HitsWaiting();
    // Owner: ProcessMessages until the search has ended.
    void WaitFor();

    // Nodes tested so far (for progress and benchmarks).
    std::uint64_t NodesTested() const { return tested_.load(std::memory_order_relaxed); }
    // Whether the walk is over (its last OnWake is on its way). Any thread:
    // an OnWake handler that lets some wake-ups pass tells the last one by it.
    bool WalkEnded() const { return walkEnded_.load(std::memory_order_acquire); }
    // The node the walk visited last (a folder, or a file whose folder is
    // searched), or null before the first: what a window shows as being
    // searched, looked at when it likes instead of hearing of every node
    // (OnFolder makes each node's URL on the worker). Any thread; the node
    // may be read while the search runs, since the tree does not change.
    const TWebCacheTreeNode* VisitedNode() const {
        return visited_.load(std::memory_order_relaxed);
    }

    // The criteria applied to one node, without reporting it. stop, when
    // given, ends a content search part way (no match).
    static bool Matches(const TFindData& data, const std::vector<TFileMask>& masks,
                        const TWebCacheTreeNode* node, const std::function<bool()>& stop = {});

private:
    void Execute();
    void SearchFolder(TWebCacheTreeNode* node);
    void TestNode(TWebCacheTreeNode* node);
    void Deliver(TWebCacheTreeNode* node);
    void AnnounceHits();
    void WakeOwner();
    void Join();

    std::unique_ptr<TFindData> data_;
    std::vector<TFileMask> masks_;
    std::thread worker_;
    bool started_ = false; // owner thread only
    // Worker thread only: hits queued since the owner was last woken.
    int unannounced_ = 0;
    std::chrono::steady_clock::time_point firstUnannounced_;
    std::atomic<bool> terminated_{false};
    std::atomic<std::uint64_t> tested_{0};
    std::atomic<const TWebCacheTreeNode*> visited_{nullptr};
    std::atomic<bool> walkEnded_{false};

    std::mutex mutex_;
    std::condition_variable ownerWake_;  // a hit is waiting, or the worker ended
    std::condition_variable workerWake_; // the queue has room, or the search stopped
    std::deque<TWebCacheTreeNode*> pending_;
    bool finished_ = false;
    bool terminateDelivered_ = false;
    TWebCacheTreeNode* foundNode_ = nullptr; // owner thread only
};

// Hooks the search into the tree: the owner stops it before the tree
// changes (see the notes above). Other subscribers of OnChanging stay; the
// hook lasts as long as the handle, which must not outlive the search.
[[nodiscard]] TSubscription StopBeforeChanges(TWebCacheTree& tree, TFindThread& search);

// Whether the file at path contains text: the content is read once, turned
// from EUC-JP or ISO-2022-JP into Shift-JIS as its code is detected (content
// that is not text is searched as it is), and searched for text, ignoring the
// case of ASCII letters when anyCase is set. Only regular files are read;
// a file that cannot be read, or is empty, contains nothing. The content is
// read and searched a window at a time, so that a file of any size costs
// the same memory. stop, when given, is asked between windows: true ends
// the search (nothing found).
bool FileContains(const std::string& path, std::string_view text, bool anyCase);
// The same for an entry's body, wherever it lies and however it is encoded.
bool FileContains(const TWebCacheEntryInfo& entry, std::string_view text, bool anyCase,
                  const std::function<bool()>& stop = {});

// The window of a content search, in bytes of the content as stored.
constexpr std::size_t kContentWindow = 1u << 20;

} // namespace tarnhold
