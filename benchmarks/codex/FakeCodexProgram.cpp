// A stand-in for `codex` that answers at once, so that a benchmark measures our own overhead
// and not a shell's start-up. `login status` reports a ChatGPT sign-in; `exec` reads the prompt
// to its end and writes a fixed answer into the file after --output-last-message.
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "login") == 0) {
        static const char status[] = "Logged in using ChatGPT\n";
        return write(STDERR_FILENO, status, sizeof status - 1) < 0 ? 1 : 0;
    }
    const char* answerPath = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--output-last-message") == 0) answerPath = argv[i + 1];
    }
    if (!answerPath) return 2;
    char buffer[65536];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    const int fd = open(answerPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return 1;
    static const char answer[] = "**Respuesta** de prueba.\n";
    const bool written = write(fd, answer, sizeof answer - 1) == static_cast<ssize_t>(sizeof answer - 1);
    return close(fd) == 0 && written ? 0 : 1;
}
