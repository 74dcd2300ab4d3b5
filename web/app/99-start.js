// Every section has registered; wire the page, then find out which screen this start opens on.
initSections();
boot();
