#include "app/about_dlg_gtk.h"

#include <string>

#include "browser/flash_runtime.h"

namespace morva {
namespace {

constexpr char kCaption[] = "About Morva";
constexpr char kVersionLine[] = "Morva Version " MORVA_VERSION_MAJOR_MINOR;
constexpr char kNotice[] =
    "Plays a virtual tour packed into this program.\n"
    "Nothing is installed and nothing is kept after it closes.";
constexpr int kIconSize = 32;

}  // namespace

CAboutDlg::CAboutDlg(GtkWindow* parent, GdkPixbuf* icon)
    : parent_(parent), icon_(icon) {}

int CAboutDlg::DoModal() {
  GtkWidget* dialog = gtk_dialog_new_with_buttons(
      kCaption, parent_, GTK_DIALOG_MODAL, "OK", GTK_RESPONSE_OK, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_column_spacing(GTK_GRID(grid), 16);
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_container_set_border_width(GTK_CONTAINER(grid), 12);
  if (icon_) {
    GdkPixbuf* scaled = gdk_pixbuf_scale_simple(icon_, kIconSize, kIconSize,
                                                GDK_INTERP_BILINEAR);
    GtkWidget* image = gtk_image_new_from_pixbuf(scaled);
    g_object_unref(scaled);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_grid_attach(GTK_GRID(grid), image, 0, 0, 1, 2);
  }
  GtkWidget* version = gtk_label_new(kVersionLine);
  gtk_label_set_xalign(GTK_LABEL(version), 0);
  gtk_grid_attach(GTK_GRID(grid), version, 1, 0, 1, 1);
  GtkWidget* notice = gtk_label_new(kNotice);
  gtk_label_set_xalign(GTK_LABEL(notice), 0);
  gtk_grid_attach(GTK_GRID(grid), notice, 1, 1, 1, 1);
  const std::string runtime = FlashRuntimeVersion();
  if (!runtime.empty()) {
    // The licences of the Flash runtime ask for this credit.
    const std::string credit = "Flash content plays through Ruffle " + runtime +
                               " (MIT or Apache-2.0 licence).";
    GtkWidget* label = gtk_label_new(credit.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_grid_attach(GTK_GRID(grid), label, 1, 2, 1, 1);
  }
  gtk_container_add(
      GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), grid);
  gtk_widget_show_all(grid);

  const int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return response == GTK_RESPONSE_OK ? 1 : 2;
}

}  // namespace morva
