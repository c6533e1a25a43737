// The one way to let an ordinary user open the devices: shown by the help and by the first run.
export const UDEV_COMMANDS = [
  'torvanix-ctl udev-rules | sudo tee /etc/udev/rules.d/70-torvanix.rules',
  'sudo udevadm control --reload',
  'sudo udevadm trigger --subsystem-match=hidraw',
];
