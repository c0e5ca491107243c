#pragma once

// Whether Windows itself is 64-bit. The program is 32-bit: on a 64-bit Windows it runs under
// WOW64 (IsWow64Process says so) and sees the registry in two views.
bool WindowsIs64Bit();
