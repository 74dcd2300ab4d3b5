// Every handler above is wired; now find out which screen this start opens on.
boot();
