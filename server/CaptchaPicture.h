#pragma once

#include <string>

// A JPEG picture of `code` drawn as dark strokes on a light ground, 120 x 48 pixels, each character
// 5 x 7 cells of 4 pixels with a small vertical jitter. Characters outside "2345678ACEFHKMNPRTXY"
// are left blank. Returns an empty string when the encoder fails.
std::string DrawCaptchaJpeg(const std::string& code);

// The colour of ink and ground, so tests can tell a drawn cell from the ground.
inline constexpr unsigned char kCaptchaInk[3] = {24, 40, 120};
inline constexpr unsigned char kCaptchaGround[3] = {236, 232, 220};
