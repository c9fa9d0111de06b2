/*
 * exampleDriver DEVICE: the smallest useful driver of the TELM family.
 *
 * It registers as the driver of DEVICE with KIV, sends a few IR commands,
 * prints every NS and text message and every change of state KIV passes on,
 * and ends when KIV says goodbye. KIV's questions about the driver's state
 * (may it take state 2? take it now) are answered by rkDriver from the
 * driver's preference.
 */
#include <rkDriver.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

/* Preference 1: the driver accepts state 2 when KIV offers it. */
constexpr int acceptsStateTwo = 1;
/* Connection mode 2: commands travel through telmif32. */
constexpr int connectionModeTelmif = 2;
constexpr int commandsToSend = 3;

class exampleDriver : public IrkDriverCallback {
public:
    void onTextMessage(rkDriver*, const char* text) override
    {
        std::printf("text: %s\n", text);
    }

    void onNSMessage(int workstation, int device, const std::string& text, const std::string& word1,
                     const std::string& word2) override
    {
        std::printf("NS for workstation %d device %d: %s [%s] [%s]\n", workstation, device,
                    text.c_str(), word1.c_str(), word2.c_str());
    }

    void onStateChange(rkDriver*, int state) override { std::printf("state: %d\n", state); }

    /* KIV's goodbye, or the driver's own going: nothing more will come. */
    void onDisconnected(int device) override
    {
        std::printf("KIV let go of device %d\n", device);
        PostQuitMessage(0);
    }

    void onDatabaseChange(int device, int database, int index) override
    {
        std::printf("database %d index %d of device %d changed\n", database, index, device);
    }
};

int deviceFrom(int argc, char** argv)
{
    if (argc != 2)
        return 0;
    char* end = nullptr;
    const long device = std::strtol(argv[1], &end, 10);
    return *end == '\0' && device > 0 && device < 65536 ? static_cast<int>(device) : 0;
}

void sendCommands(rkDriver& driver, int device)
{
    for (int slot = 1; slot <= commandsToSend; ++slot) {
        const std::string command = "IR " + std::to_string(device) + " " + std::to_string(slot) + " 'hello' 0";
        const int answer = driver.sendCommand(0, command.c_str());
        std::printf("sent %s: KIV answered %d\n", command.c_str(), answer); /* 1: taken */
    }
}

/* Messages are delivered to the driver's window from here, on this one thread. */
void runUntilGoodbye()
{
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int device = deviceFrom(argc, argv);
    if (device == 0) {
        std::fprintf(stderr, "usage: exampleDriver DEVICE (a number from 1)\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    exampleDriver callbacks;
    rkDriver driver(&callbacks, "exampleDriver");
    /* true means failure, as for every operation of the family's libraries */
    if (driver.connect(static_cast<unsigned int>(device), connectionModeTelmif, 0)) {
        std::fprintf(stderr, "exampleDriver: KIV did not accept device %d\n", device);
        return 1;
    }
    std::printf("registered as the driver of device %d\n", device);
    driver.setPreference(acceptsStateTwo, false);
    sendCommands(driver, device);
    runUntilGoodbye();
    return 0;
}
