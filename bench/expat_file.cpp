// The baseline of bench_parse_process: one process that reads a file into memory and runs
// expat's namespace parser over its bytes with no handlers. Exits 0 when the document is well
// formed.

#include <expat.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_expat_file FILE\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDONLY);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        std::perror(argv[1]);
        return 2;
    }
    const auto size = size_t(status.st_size);
    auto* buffer = static_cast<char*>(std::malloc(size ? size : 1));
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, buffer + done, size - done);
        if (got <= 0) {
            std::perror(argv[1]);
            return 2;
        }
        done += size_t(got);
    }
    close(fd);

    XML_Parser parser = XML_ParserCreateNS(nullptr, '\x01');
    const bool ok = XML_Parse(parser, buffer, int(size), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    std::free(buffer);
    return ok ? 0 : 1;
}
