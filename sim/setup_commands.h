// The board set-up commands of bootsim: new, eeprom, flash, env, usb and conf. Each takes the
// board directory and its own arguments, prints its own messages and returns the process exit
// status (0 success, 1 failure, 2 usage). Called by bootsim's main.
#pragma once

#include <string>
#include <vector>

using Args = std::vector<std::string>;

int command_new(const std::string &dir);
int command_eeprom(const std::string &dir, const Args &args);
int command_flash(const std::string &dir, const Args &args);
int command_env(const std::string &dir, const Args &args);
int command_usb(const std::string &dir, const Args &args);
int command_conf(const std::string &dir, const Args &args);

// Absolute form of DIR (which need not exist yet).
std::string absolute_path(const std::string &dir);
