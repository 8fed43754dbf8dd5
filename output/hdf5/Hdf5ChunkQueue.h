// Compresses the chunks of every column on a few worker threads while the
// graph goes on, and writes them, in the order they were handed over, from the
// thread that hands them over: HDF5 itself is only ever called from there.
#pragma once

#include <hdf5.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Hdf5Deflate.h"

namespace h5out {

// One chunk of a dataset: `raw` holds the whole chunk (a partial last one
// padded), `extent` the dataset's length once it is written.
struct Chunk {
  hid_t dataset = -1;
  hsize_t offset = 0, extent = 0;
  size_t elementSize = 1;
  Compression compression;
  std::vector<unsigned char> raw, packed;
  bool coded = false, ok = false;  // guarded by the queue's lock while in flight
};

// The cores this process may run on (a Slurm job's share, not the node's).
unsigned usableCores();

class ChunkQueue {
 public:
  // `threads` 0 compresses each chunk when it is handed over.
  explicit ChunkQueue(unsigned threads);
  // Joins the workers; chunks not yet written are dropped.
  ~ChunkQueue();
  ChunkQueue(const ChunkQueue&) = delete;
  ChunkQueue& operator=(const ChunkQueue&) = delete;

  // An empty chunk to fill, its buffers reused from written ones.
  std::unique_ptr<Chunk> blank();
  // Hands a filled chunk over and writes those finished before it; waits
  // while too many are in flight. False, with the reason, when a write failed.
  bool put(std::unique_ptr<Chunk> chunk, std::string& error);
  // Writes every chunk handed over.
  bool finish(std::string& error);
  // Drops every chunk not yet written (the file is lost).
  void discard();

 private:
  void work(unsigned index);
  // Writes the finished chunks at the front, waiting while more than `keep` are in flight.
  bool writeDone(size_t keep, std::string& error);
  bool write(Chunk& c, std::string& error);

  const size_t limit;
  std::vector<std::unique_ptr<ChunkCoder>> coders;  // one per worker, or one for the caller
  std::vector<std::thread> workers;
  std::mutex lock;
  std::condition_variable wake, coded;
  std::deque<std::unique_ptr<Chunk>> inFlight;  // in order of writing
  std::deque<Chunk*> todo;                      // not yet taken by a worker
  unsigned busy = 0;                            // chunks being compressed
  bool stopping = false;
  std::vector<std::unique_ptr<Chunk>> spare;  // caller's thread only
};

}  // namespace h5out
