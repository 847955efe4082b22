// The card's command set: application and file selection, READ / UPDATE BINARY,
// GET CHALLENGE, EXTERNAL AUTHENTICATE and logout. Protocol rules (61xx, GET RESPONSE)
// are the transport's; this class answers each command with its full response data.
#pragma once

#include <functional>

#include "apdu.h"
#include "card_image.h"
#include "contactless_applet.h"
#include "security_state.h"

namespace carvix::vcard {

class Applet {
  public:
    // image must outlive the applet. persist is called after every successful UPDATE BINARY
    // so the new bytes reach the image file; if it throws, the card answers 6F00.
    Applet(CardImage& image, std::function<void()> persist);

    Response Process(const Command& cmd);

    // Power-off or reset: no application selected, no challenge, no role granted.
    void Reset();

  private:
    Response Select(const Command& cmd);
    Response SelectApplication(const Command& cmd);
    Response SelectFile(const Command& cmd);
    Response ReadBinary(const Command& cmd);
    Response UpdateBinary(const Command& cmd);
    Response GetChallenge(const Command& cmd);
    Response ExternalAuthenticate(const Command& cmd);
    Response Logout(const Command& cmd);

    CardImage& image_;
    std::function<void()> persist_;
    Application* application_ = nullptr;
    ElementaryFile* file_ = nullptr;
    SecurityState security_;
    ContactlessApplet contactless_;
};

// The 10-byte answer to SELECT by file identifier: file id (2), allocated size (2, the
// size READ BINARY is bounded by), bytes in use (2), file type 01, a mask of the roles 0..7
// that may update the file, two zero bytes. All numbers big-endian.
Bytes FileSelectResponse(const Application& app, const ElementaryFile& ef);

}  // namespace carvix::vcard
