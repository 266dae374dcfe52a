// A stand-in for OpenVPN behind the engine (Linux). It prints the descriptors it inherited
// ("FD N -> TARGET"), then, given --management SOCKET unix PWFILE, connects to the engine as OpenVPN's
// --management-client does, asks for the interface's password and sends the lines of
// $FAKE_OPENVPN_SAY; without that variable it exits 0 at once. Every command the engine sends back is printed
// as "CMD[...]". It exits when the engine closes the connection, or dies of the engine's SIGTERM.
// $FAKE_OPENVPN_FLAGS_FILE / $FAKE_OPENVPN_FLAGS: written at start, for the stand-in token module,
// as if this OpenVPN's login attempts had changed the token.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void listDescriptors()
{
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) {
        return;
    }
    const int own = ::dirfd(dir);
    std::vector<std::string> lines;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own) {
            continue;
        }
        char target[4096] = {};
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        const ssize_t size = ::readlink(link.c_str(), target, sizeof target - 1);
        lines.push_back(std::string("FD ") + entry->d_name + " -> " + (size > 0 ? target : "?"));
    }
    ::closedir(dir);
    for (const std::string& line : lines) {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

bool sendAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t sent = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    listDescriptors();
    const char* flagsFile = std::getenv("FAKE_OPENVPN_FLAGS_FILE");
    const char* flags = std::getenv("FAKE_OPENVPN_FLAGS");
    if (flagsFile && flags) {
        std::ofstream(flagsFile) << flags << "\n";
    }

    std::string socketPath;
    std::string passwordFile;
    for (int i = 1; i + 3 < argc; ++i) {
        if (std::strcmp(argv[i], "--management") == 0 && std::strcmp(argv[i + 2], "unix") == 0) {
            socketPath = argv[i + 1];
            passwordFile = argv[i + 3];
        }
    }
    const char* say = std::getenv("FAKE_OPENVPN_SAY");
    if (socketPath.empty() || !say) {
        return 0;
    }
    std::string password;
    std::getline(std::ifstream(passwordFile), password);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::printf("cannot connect to %s\n", socketPath.c_str());
        return 2;
    }
    std::string input;
    const auto readLine = [&](std::string* line) {
        std::string::size_type end;
        while ((end = input.find('\n')) == std::string::npos) {
            char buffer[4096];
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0) {
                return false;
            }
            input.append(buffer, static_cast<std::size_t>(got));
        }
        *line = input.substr(0, end);
        input.erase(0, end + 1);
        return true;
    };

    std::string line;
    if (!sendAll(fd, "ENTER PASSWORD:") || !readLine(&line) || line != password) {
        std::printf("management password refused\n");
        return 3;
    }
    if (!sendAll(fd, ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\n" +
                         std::string(say) + "\n")) {
        return 4;
    }
    while (readLine(&line)) {
        std::printf("CMD[%s]\n", line.c_str());
        std::fflush(stdout);
    }
    std::printf("management connection closed\n");
    return 0;
}
