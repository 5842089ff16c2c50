// Chromium runs the background as a service worker; Firefox loads sync.js
// directly as its background script.
importScripts('sync.js');
