// telvor-hylafax-queue TAG [FIELD...]: the queue file of the job whose job
// info is TAG, once it reads whole with every FIELD (see QueueReader), for
// the test scripts: its path in the spool on the first line, then its text.
// Exit 1 when none does within kQueueWait.
#include <iostream>
#include <string>
#include <vector>

#include "queue.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: telvor-hylafax-queue TAG [FIELD...]\n";
    return 2;
  }
  telvor::hylafax::QueueReader reader(argv[1], std::vector<std::string>(argv + 2, argv + argc));
  const auto record = reader.Wait();
  if (!record) {
    std::cerr << reader.Seen() << '\n';
    return 1;
  }
  std::cout << record->file.string() << '\n' << record->text;
  return 0;
}
