#pragma once

// The addresses the program hands to the browser and the mail program, kept
// in one place so that the menu, the about dialog and the feedback request
// always agree. Constant-initialised, so any unit may use them at start-up.
namespace ProductAddresses {
inline constexpr char Site[] = "https://www.tarnwick.example/";
inline constexpr char FeedbackPage[] = "https://feedback.tarnwick.example/like.html?action=events";
inline constexpr char SupportMail[] = "support@tarnwick.example";
} // namespace ProductAddresses
