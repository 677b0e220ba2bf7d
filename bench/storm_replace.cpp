// The StormLib peer of `mpqadd a <archive> <file> <name>` for the benchmark: opens the
// archive, replaces the member with the file's content (zlib) and closes it.
#include <StormLib.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_storm_replace a <archive> <file> <name>\n");
    return 2;
  }
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(argv[2], 0, 0, &mpq)) {
    std::fprintf(stderr, "cannot open %s\n", argv[2]);
    return 1;
  }
  const bool added =
      SFileAddFileEx(mpq, argv[3], argv[4], MPQ_FILE_COMPRESS | MPQ_FILE_REPLACEEXISTING,
                     MPQ_COMPRESSION_ZLIB, MPQ_COMPRESSION_ZLIB);
  const bool closed = SFileCloseArchive(mpq);
  if (!added || !closed) std::fprintf(stderr, "cannot replace %s\n", argv[4]);
  return added && closed ? 0 : 1;
}
