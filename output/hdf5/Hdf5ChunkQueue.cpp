#include "Hdf5ChunkQueue.h"

#include <algorithm>

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include "Hdf5Column.h"

namespace h5out {

unsigned usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return unsigned(std::max(1, CPU_COUNT(&set)));
  return std::max(1u, std::thread::hardware_concurrency());
}

ChunkQueue::ChunkQueue(unsigned threads) : limit(threads == 0 ? 1 : 4 * size_t(threads)) {
  for (unsigned k = 0; k < (threads == 0 ? 1 : threads); ++k) coders.emplace_back(new ChunkCoder);
  // The workers are born with every signal blocked: Ctrl-C and SIGTERM stay
  // with the threads of the host that wait for them.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  // Named here rather than by the worker itself, so the name is there as soon
  // as the queue is (as top and gdb show it).
  for (unsigned k = 0; k < threads; ++k) {
    workers.emplace_back(&ChunkQueue::work, this, k);
    pthread_setname_np(workers.back().native_handle(), "tarn-h5-deflate");
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

ChunkQueue::~ChunkQueue() {
  {
    std::lock_guard<std::mutex> hold(lock);
    stopping = true;
    todo.clear();
  }
  wake.notify_all();
  for (std::thread& t : workers) t.join();
}

void ChunkQueue::work(unsigned index) {
  ChunkCoder& coder = *coders[index];
  std::unique_lock<std::mutex> hold(lock);
  for (;;) {
    wake.wait(hold, [&] { return stopping || !todo.empty(); });
    if (stopping) return;
    Chunk* c = todo.front();
    todo.pop_front();
    ++busy;
    hold.unlock();
    const bool ok = coder.encode(c->compression, c->raw, c->elementSize, c->packed);
    hold.lock();
    c->ok = ok;
    c->coded = true;
    --busy;
    coded.notify_all();
  }
}

std::unique_ptr<Chunk> ChunkQueue::blank() {
  if (spare.empty()) return std::unique_ptr<Chunk>(new Chunk);
  std::unique_ptr<Chunk> c = std::move(spare.back());
  spare.pop_back();
  c->raw.clear();
  c->coded = c->ok = false;
  return c;
}

bool ChunkQueue::put(std::unique_ptr<Chunk> chunk, std::string& error) {
  if (workers.empty()) {
    chunk->ok = coders[0]->encode(chunk->compression, chunk->raw, chunk->elementSize, chunk->packed);
    const bool ok = write(*chunk, error);
    spare.push_back(std::move(chunk));
    return ok;
  }
  {
    std::lock_guard<std::mutex> hold(lock);
    todo.push_back(chunk.get());
    inFlight.push_back(std::move(chunk));
  }
  wake.notify_one();
  return writeDone(limit - 1, error);
}

bool ChunkQueue::writeDone(size_t keep, std::string& error) {
  for (;;) {
    std::unique_ptr<Chunk> front;
    {
      std::unique_lock<std::mutex> hold(lock);
      if (inFlight.empty()) return true;
      if (inFlight.size() > keep) coded.wait(hold, [&] { return inFlight.front()->coded; });
      if (!inFlight.front()->coded) return true;
      front = std::move(inFlight.front());
      inFlight.pop_front();
    }
    const bool ok = write(*front, error);
    spare.push_back(std::move(front));
    if (!ok) return false;
  }
}

bool ChunkQueue::finish(std::string& error) { return workers.empty() || writeDone(0, error); }

void ChunkQueue::discard() {
  std::unique_lock<std::mutex> hold(lock);
  todo.clear();
  // Those being compressed now are dropped once their worker lets go of them.
  coded.wait(hold, [&] { return busy == 0; });
  inFlight.clear();
}

bool ChunkQueue::write(Chunk& c, std::string& error) {
  if (!c.ok) {
    error = "out of memory while compressing";
    return false;
  }
  if (H5Dset_extent(c.dataset, &c.extent) < 0) {
    error = failureReason("cannot extend a dataset");
    return false;
  }
  if (H5Dwrite_chunk(c.dataset, H5P_DEFAULT, 0, &c.offset, c.packed.size(), c.packed.data()) < 0) {
    error = failureReason("cannot write a dataset");
    return false;
  }
  return true;
}

}  // namespace h5out
