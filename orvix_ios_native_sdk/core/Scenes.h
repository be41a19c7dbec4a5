#pragma once
// The kit's storyboard "Orvix" in its bundle "com.kalmar.orvix-ios-native-sdk".

#include "platform/ui/storyboard.h"

namespace orvix {

inline constexpr char kitBundleIdentifier[] = "com.kalmar.orvix-ios-native-sdk";
inline constexpr char kitStoryboardName[] = "Orvix";

// The storyboard, with every screen class of the kit registered.
platform::ui::Storyboard kitStoryboard();

} // namespace orvix
