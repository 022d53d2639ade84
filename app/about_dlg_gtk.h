// CAboutDlg: the About box, modal over the player window.
#ifndef MORVA_APP_ABOUT_DLG_GTK_H_
#define MORVA_APP_ABOUT_DLG_GTK_H_

#include <gtk/gtk.h>

namespace morva {

class CAboutDlg {
 public:
  // `parent` and `icon` may be null; neither is owned.
  CAboutDlg(GtkWindow* parent, GdkPixbuf* icon);

  // Shows the box until OK or its close button; returns 1 for OK, 2 else.
  int DoModal();

 private:
  GtkWindow* parent_;
  GdkPixbuf* icon_;
};

}  // namespace morva

#endif  // MORVA_APP_ABOUT_DLG_GTK_H_
