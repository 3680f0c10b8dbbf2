#pragma once
// The navigation allow-list's hosts that are the same for the production
// service and the local mock: every third-party group (video and storage
// CDNs, video and meeting platforms, the PDF viewers). Each profile's
// AllowedHosts puts its own service domains before them.
#define MIRAVELL_THIRD_PARTY_ALLOWED_HOSTS                                                             \
  "b-cdn.net\nbunnycdn.com\nmediadelivery.net\nbunny.net\n"                                            \
  "gumlet.io\n"                                                                                        \
  "media.nilestudy.com\n"                                                                              \
  "cloudflare.com\ncloudflarestream.com\nvideodelivery.net\nr2.cloudflarestorage.com\n"                \
  "amazonaws.com\ncloudfront.net\n"                                                                    \
  "youtube.com\nyoutu.be\nyoutube-nocookie.com\nytimg.com\ngooglevideo.com\ngoogle.com\ngstatic.com\n" \
  "vimeo.com\nvimeocdn.com\n"                                                                          \
  "azureedge.net\nblob.core.windows.net\nazurefd.net\n"                                                \
  "digitaloceanspaces.com\n"                                                                           \
  "wasabisys.com\n"                                                                                    \
  "akamaihd.net\nakamaized.net\n"                                                                      \
  "fastly.net\n"                                                                                       \
  "edgecastcdn.net\n"                                                                                  \
  "stackpathcdn.com\nstackpathdns.com\n"                                                               \
  "zoom.us\nzoom.com\n"                                                                                \
  "mozilla.github.io\n"                                                                                \
  "pdfjs.express"
